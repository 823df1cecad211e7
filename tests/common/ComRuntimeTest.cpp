// Component runtime: registration, creation by class id and ProgID, lifetime, late binding,
// strings and variants.
#include <dlfcn.h>
#include <edicom/EdiComCpp.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "Platform.h"
#include "Registry.h"
#include "TempHives.h"
#include "TestServer.h"

using namespace edicom;
using namespace testserver;

namespace {

// Loads the test server once (as the runtime will) and runs its entry points.
class ComRuntimeTest : public testing::Test {
 protected:
  void SetUp() override {
    FLib = dlopen(EDI_TEST_SERVER, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(FLib, nullptr) << dlerror();
    auto reg = reinterpret_cast<HRESULT (*)()>(dlsym(FLib, "DllRegisterServer"));
    ASSERT_NE(reg, nullptr);
    ASSERT_EQ(reg(), S_OK);
    FAlive = reinterpret_cast<long (*)()>(dlsym(FLib, "TestServerAlive"));
    CoInitialize(nullptr);
  }
  void TearDown() override {
    CoUninitialize();
    if (FLib) dlclose(FLib);
  }
  HRESULT Unregister() { return reinterpret_cast<HRESULT (*)()>(dlsym(FLib, "DllUnregisterServer"))(); }

  TempHives FHives;
  void* FLib = nullptr;
  long (*FAlive)() = nullptr;
};

}  // namespace

TEST_F(ComRuntimeTest, CreatesByClassIdAndProgIdAndObjectDiesWithLastReference) {
  ComPtr<ICounter> a;
  ASSERT_EQ(CreateInstance(CLSID_Counter, IID_ICounter, a), S_OK);
  long base = FAlive();
  EXPECT_GE(base, 1);
  a->Add(5);

  CLSID fromProgId{};
  ASSERT_EQ(CLSIDFromProgID(u"Test.Counter.1", &fromProgId), S_OK);
  EXPECT_EQ(fromProgId, CLSID_Counter);
  ASSERT_EQ(CLSIDFromProgID(u"test.counter", &fromProgId), S_OK);  // version-independent, any case
  EXPECT_EQ(fromProgId, CLSID_Counter);

  ComPtr<ICounter> b;
  ASSERT_EQ(CreateInstance(fromProgId, IID_ICounter, b), S_OK);
  std::int32_t va = 0, vb = 0;
  a->get_Value(&va);
  b->get_Value(&vb);
  EXPECT_EQ(va, 5);
  EXPECT_EQ(vb, 0);  // a new, independent object
  EXPECT_EQ(FAlive(), base + 1);

  ComPtr<IDispatch> asDispatch;
  ASSERT_EQ(b.As(asDispatch, IID_IDispatch), S_OK);
  b.Reset();
  EXPECT_EQ(FAlive(), base + 1);  // still referenced through IDispatch
  asDispatch.Reset();
  EXPECT_EQ(FAlive(), base);
  a.Reset();
  EXPECT_EQ(FAlive(), base - 1);

  ComPtr<IUnknown> none;
  EXPECT_EQ(b.As(none, IID_IUnknown), E_POINTER);
}

TEST_F(ComRuntimeTest, UnregisteredClassesAndProgIdsFail) {
  const CLSID unknown = {0x12345678, 0x1234, 0x1234, {1, 2, 3, 4, 5, 6, 7, 8}};
  ComPtr<IUnknown> p;
  EXPECT_EQ(CoCreateInstance(unknown, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, p.PutVoid()), REGDB_E_CLASSNOTREG);
  CLSID c{};
  EXPECT_EQ(CLSIDFromProgID(u"No.Such.Thing", &c), CO_E_CLASSSTRING);

  ASSERT_EQ(Unregister(), S_OK);
  EXPECT_EQ(CoCreateInstance(CLSID_Counter, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, p.PutVoid()),
            REGDB_E_CLASSNOTREG);
  EXPECT_EQ(CLSIDFromProgID(u"Test.Counter.1", &c), CO_E_CLASSSTRING);
  common::TRegistry reg(common::HKEY_CLASSES_ROOT);
  EXPECT_FALSE(reg.KeyExists("CLSID\\" + GuidToString(CLSID_Counter)));
  EXPECT_FALSE(reg.KeyExists("Test.Counter"));
}

TEST_F(ComRuntimeTest, RegistrationRecordsServerPathAndThreadingModel) {
  common::TRegistry reg(common::HKEY_CLASSES_ROOT);
  ASSERT_TRUE(reg.OpenKeyReadOnly("CLSID\\{6E0C2B51-1D2A-4C11-9B7E-3A5D2C7E9F01}\\InprocServer32"));
  char resolved[4096];
  ASSERT_NE(realpath(EDI_TEST_SERVER, resolved), nullptr);
  EXPECT_EQ(reg.ReadString(""), resolved);
  EXPECT_EQ(reg.ReadString("ThreadingModel"), "Apartment");
  ASSERT_TRUE(reg.OpenKeyReadOnly("CLSID\\{6E0C2B51-1D2A-4C11-9B7E-3A5D2C7E9F01}"));
  EXPECT_EQ(reg.ReadString(""), "Counter Class");
}

TEST_F(ComRuntimeTest, LateBindingByNameWithErrorInformation) {
  ComPtr<IDispatch> d;
  ASSERT_EQ(CreateInstance(CLSID_Counter, IID_IDispatch, d), S_OK);
  auto idOf = [&](const char16_t* name) {
    DISPID id = 0;
    LPCOLESTR names[] = {name};
    EXPECT_EQ(d->GetIDsOfNames(IID_IUnknown, names, 1, 0, &id), S_OK);
    return id;
  };
  DISPID value = idOf(u"vALUE"), add = idOf(u"Add"), echo = idOf(u"Echo"), fail = idOf(u"Fail");
  EXPECT_EQ(value, 1);
  DISPID missing = 0;
  LPCOLESTR bad[] = {u"Nope"};
  EXPECT_EQ(d->GetIDsOfNames(IID_IUnknown, bad, 1, 0, &missing), DISP_E_UNKNOWNNAME);

  // Put a string that converts to an integer, then Add, then get.
  Variant arg = Variant::Str(u"40");
  DISPID putId = DISPID_PROPERTYPUT;
  DISPPARAMS put{&arg, &putId, 1, 1};
  ASSERT_EQ(d->Invoke(value, IID_IUnknown, 0, DISPATCH_PROPERTYPUT, &put, nullptr, nullptr, nullptr), S_OK);
  Variant two = Variant::Int(2);
  DISPPARAMS one{&two, nullptr, 1, 0};
  ASSERT_EQ(d->Invoke(add, IID_IUnknown, 0, DISPATCH_METHOD, &one, nullptr, nullptr, nullptr), S_OK);
  Variant result;
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  ASSERT_EQ(d->Invoke(value, IID_IUnknown, 0, DISPATCH_PROPERTYGET | DISPATCH_METHOD, &none, &result, nullptr, nullptr),
            S_OK);
  EXPECT_EQ(result.vt, VT_I4);
  EXPECT_EQ(result.lVal, 42);
  EXPECT_EQ(d->Invoke(add, IID_IUnknown, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr), DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(d->Invoke(99, IID_IUnknown, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr), DISP_E_MEMBERNOTFOUND);

  // Non-ASCII text (with a character outside the basic plane) survives the round trip.
  const std::u16string text = u"\u00E9l\u00E8ve \u20AC \U0001F600";
  Variant in = Variant::Str(text);
  DISPPARAMS echoArgs{&in, nullptr, 1, 0};
  Variant echoed;
  ASSERT_EQ(d->Invoke(echo, IID_IUnknown, 0, DISPATCH_METHOD, &echoArgs, &echoed, nullptr, nullptr), S_OK);
  ASSERT_EQ(echoed.vt, VT_BSTR);
  EXPECT_EQ(std::u16string(echoed.bstrVal, SysStringLen(echoed.bstrVal)), text);

  // A failing member: E_UNEXPECTED with error information, DISP_E_EXCEPTION through Invoke.
  ComPtr<ICounter> c;
  ASSERT_EQ(d.As(c, IID_ICounter), S_OK);
  BStr why(u"Open DB \"x\" failed (gone)");
  EXPECT_EQ(c->Fail(why.Get()), E_UNEXPECTED);
  BStr desc, src;
  ASSERT_EQ(GetErrorInfoText(desc.Put(), src.Put()), S_OK);
  EXPECT_EQ(desc.Utf8(), "Open DB \"x\" failed (gone)");
  EXPECT_EQ(src.Utf8(), "Test.Counter.1");
  EXPECT_EQ(GetErrorInfoText(desc.Put(), src.Put()), S_FALSE);  // read once

  Variant msg = Variant::Str(u"boom");
  DISPPARAMS failArgs{&msg, nullptr, 1, 0};
  EXCEPINFO ex{};
  EXPECT_EQ(d->Invoke(fail, IID_IUnknown, 0, DISPATCH_METHOD, &failArgs, nullptr, &ex, nullptr), DISP_E_EXCEPTION);
  EXPECT_EQ(ex.scode, E_UNEXPECTED);
  EXPECT_EQ(BStr::Attach(ex.bstrDescription).Utf8(), "boom");
  EXPECT_EQ(BStr::Attach(ex.bstrSource).Utf8(), "Test.Counter.1");
}

TEST(ComValuesTest, StringsVariantsAndGuids) {
  BStr empty(u"");
  EXPECT_EQ(empty.Length(), 0u);
  EXPECT_EQ(SysStringLen(nullptr), 0u);
  BStr s("caf\xC3\xA9 \xF0\x9F\x98\x80");
  EXPECT_EQ(s.Length(), 7u);  // 5 + surrogate pair
  EXPECT_EQ(s.Utf8(), "caf\xC3\xA9 \xF0\x9F\x98\x80");

  struct Case {
    Variant from;
    VARTYPE to;
    HRESULT hr;
    const char* text;  // expected value as text
  } cases[] = {
      {Variant::Str(u"12"), VT_I4, S_OK, "12"},
      {Variant::Str(u"x"), VT_I4, DISP_E_TYPEMISMATCH, nullptr},
      {Variant::Null(), VT_I4, DISP_E_TYPEMISMATCH, nullptr},
      {Variant::Bool(true), VT_BSTR, S_OK, "True"},
      {Variant::Int(-7), VT_BSTR, S_OK, "-7"},
      {Variant::Str(u"TRUE"), VT_BOOL, S_OK, "True"},
      {Variant::Int(0), VT_BOOL, S_OK, "False"},
  };
  for (auto& c : cases) {
    Variant out;
    EXPECT_EQ(VariantChangeType(&out, &c.from, 0, c.to), c.hr);
    if (c.text) {
      Variant asText;
      ASSERT_EQ(VariantChangeType(&asText, &out, 0, VT_BSTR), S_OK);
      EXPECT_EQ(BStr(std::u16string_view(asText.bstrVal, SysStringLen(asText.bstrVal))).Utf8(), c.text);
    }
  }
  Variant copy = Variant::Str(u"\u00E9t\u00E9");
  Variant other = copy;
  EXPECT_NE(other.bstrVal, copy.bstrVal);
  EXPECT_EQ(std::u16string(other.bstrVal), u"\u00E9t\u00E9");

  GUID g{};
  ASSERT_TRUE(GuidFromString("{73E5753F-6727-11D2-8513-00C04FB15DA9}", g));
  EXPECT_EQ(GuidToString(g), "{73E5753F-6727-11D2-8513-00C04FB15DA9}");
  EXPECT_FALSE(GuidFromString("{73E5753F-6727-11D2-8513-00C04FB15DA}", g));
  EXPECT_FALSE(GuidFromString("73E5753F-6727-11D2-8513-00C04FB15DA9", g));

  EXPECT_EQ(CoInitialize(nullptr), S_OK);
  EXPECT_EQ(CoInitialize(nullptr), S_FALSE);
  EXPECT_EQ(CoApartmentDepth(), 2);
  CoUninitialize();
  CoUninitialize();
  EXPECT_EQ(CoApartmentDepth(), 0);
}

// The name a registration records: the soname link only while it leads to the library itself.
TEST(ServerFileNameTest, SonameLinkOnlyWhenItLeadsToTheLibrary) {
  TempHives dir;
  namespace fs = std::filesystem;
  const std::string real = dir.Dir() + "/libserver.so.1.2.3";
  fs::copy_file(EDI_TEST_SERVER, real);
  fs::create_symlink("libserver.so.1.2.3", dir.Dir() + "/libserver.so");
  void* lib = dlopen((dir.Dir() + "/libserver.so").c_str(), RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(lib, nullptr) << dlerror();
  const void* inside = dlsym(lib, "DllRegisterServer");
  ASSERT_NE(inside, nullptr);
  std::ofstream(dir.Dir() + "/other.so") << "not the library";

  struct {
    const char* linkTarget;  // what libserver.so.1 points to; nullptr: no such link
    const char* soname;
    std::string want;
  } cases[] = {
      {"libserver.so.1.2.3", "libserver.so.1", dir.Dir() + "/libserver.so.1"},
      {nullptr, "libserver.so.1", real},                  // no link: the file itself
      {"other.so", "libserver.so.1", real},               // a link to something else is no name of ours
      {"libserver.so.1.2.3", "", real},                   // no soname given
      {"libserver.so.1.2.3", "../libserver.so.1", real},  // a soname is a file name, never a path
  };
  for (const auto& c : cases) {
    fs::remove(dir.Dir() + "/libserver.so.1");
    if (c.linkTarget) fs::create_symlink(c.linkTarget, dir.Dir() + "/libserver.so.1");
    EXPECT_EQ(common::ServerFileName(inside, c.soname), c.want) << (c.linkTarget ? c.linkTarget : "no link");
  }
  dlclose(lib);
}
