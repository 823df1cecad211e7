// The validation document as clients see it: created by class id, called directly and through
// IDispatch::Invoke by name.
#include <dlfcn.h>
#include <edicom/EdiComCpp.h>
#include <gtest/gtest.h>
#include <ruvala/Ruvala.h>

#include <fstream>
#include <thread>

#include "EngineTestSupport.h"
#include "Registry.h"
#include "ecErrors.h"

using namespace edicom;
using ruvala::IEdiDocument;
using ruvala::IEdiError;
using ruvala::IEdiWarning;

namespace {

bool RegisterLibrary(const std::string& name) {
  std::string lib = std::string(EDI_BINARY_DIR) + "/lib/" + name;
  void* h = common::FileExists(lib) ? dlopen(lib.c_str(), RTLD_NOW | RTLD_LOCAL) : nullptr;
  auto reg = h ? reinterpret_cast<HRESULT (*)()>(dlsym(h, "DllRegisterServer")) : nullptr;
  return reg && SUCCEEDED(reg());
}

class Components : public ::testing::Environment {
 public:
  static inline bool Engine = false, Parser = false;
  void SetUp() override {
    FHive = std::make_unique<enginetest::TempMachineHive>("document");
    ::setenv("TARNHOLT_USER_HIVE", (FHive->Path() + ".user").c_str(), 1);
    common::TRegistry reg(common::HKEY_LOCAL_MACHINE);
    if (reg.OpenKey("SOFTWARE\\tarnholt\\services\\Database", true))
      reg.WriteString("Referential", enginetest::SampleSqlite());
    Engine = common::FileExists(enginetest::SampleSqlite()) && RegisterLibrary("libruvala.so");
    Parser = RegisterLibrary("libkalvix.so");
    CoInitialize(nullptr);
  }
  void TearDown() override {
    CoUninitialize();
    std::remove((FHive->Path() + ".user").c_str());
    FHive.reset();
  }

 private:
  std::unique_ptr<enginetest::TempMachineHive> FHive;
};

::testing::Environment* const gEnv = ::testing::AddGlobalTestEnvironment(new Components);

ComPtr<IEdiDocument> NewDocument() {
  ComPtr<IEdiDocument> doc;
  EXPECT_EQ(CreateInstance(ruvala::CLSID_EdiDocument, ruvala::IID_IEdiDocument, doc), S_OK);
  return doc;
}

DISPID IdOf(IDispatch* d, const char16_t* name) {
  DISPID id = DISPID_UNKNOWN;
  LPCOLESTR names[] = {name};
  EXPECT_EQ(d->GetIDsOfNames(IID_IUnknown, names, 1, 0, &id), S_OK) << Utf16ToUtf8(name);
  return id;
}

// Invoke by name; args left to right.
HRESULT Call(IDispatch* d, const char16_t* name, WORD flags, std::vector<Variant> args, Variant* result,
             EXCEPINFO* info = nullptr) {
  std::vector<VARIANT> rev(args.rbegin(), args.rend());
  DISPID put = DISPID_PROPERTYPUT;
  DISPPARAMS p{rev.data(), flags == DISPATCH_PROPERTYPUT ? &put : nullptr, static_cast<unsigned>(rev.size()),
               flags == DISPATCH_PROPERTYPUT ? 1u : 0u};
  EXCEPINFO local{};
  HRESULT hr = d->Invoke(IdOf(d, name), IID_IUnknown, 0, flags, &p, result, info ? info : &local, nullptr);
  if (!info) {
    SysFreeString(local.bstrDescription);
    SysFreeString(local.bstrSource);
  }
  return hr;
}

std::string Str(BSTR s) { return s ? Utf16ToUtf8(std::u16string_view(s, SysStringLen(s))) : ""; }

std::string FirstLine(const std::string& file, int n) {
  std::ifstream in(enginetest::SamplesDir() + file);
  std::string line;
  for (int i = 0; i < n && std::getline(in, line); ++i) {
  }
  return line;
}

class DocumentTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!Components::Engine) GTEST_SKIP() << "engine library or sample referential missing";
  }
};

}  // namespace

TEST_F(DocumentTest, OptionsAndCatalogueThroughDispatch) {
  auto doc = NewDocument();
  ASSERT_TRUE(doc);
  Variant r;
  ASSERT_EQ(Call(doc.Get(), u"InterApplication", DISPATCH_PROPERTYGET, {}, &r), S_OK);
  EXPECT_EQ(r.vt, VT_BOOL);
  EXPECT_EQ(r.boolVal, VARIANT_TRUE);
  r.Clear();
  ASSERT_EQ(Call(doc.Get(), u"checkfilter", DISPATCH_PROPERTYGET, {}, &r), S_OK);
  EXPECT_EQ(r.boolVal, VARIANT_FALSE);
  ASSERT_EQ(Call(doc.Get(), u"CheckFilter", DISPATCH_PROPERTYPUT, {Variant::Bool(true)}, nullptr), S_OK);
  VARIANT_BOOL b = 0;
  doc->get_CheckFilter(&b);
  EXPECT_EQ(b, VARIANT_TRUE);

  // The catalogue needs neither a validation nor a referential.
  r.Clear();
  ASSERT_EQ(Call(doc.Get(), u"ErrorCodeList", DISPATCH_PROPERTYGET, {}, &r), S_OK);
  EXPECT_EQ(Str(r.bstrVal), ruvala::GetErrorCodeList());
  r.Clear();
  ASSERT_EQ(Call(doc.Get(), u"WarningCodeList", DISPATCH_PROPERTYGET, {}, &r), S_OK);
  EXPECT_EQ(Str(r.bstrVal), ruvala::GetWarningCodeList());
  EXPECT_EQ(Call(doc.Get(), u"ErrorCount", DISPATCH_PROPERTYGET, {Variant::Int(1)}, &r), DISP_E_BADPARAMCOUNT);
}

TEST_F(DocumentTest, VersionsAndFileName) {
  auto doc = NewDocument();
  BStr a, b, name;
  ASSERT_EQ(doc->get_DbRefVersion(a.Put()), S_OK);
  ASSERT_EQ(doc->get_ReferentialVersion(b.Put()), S_OK);
  EXPECT_EQ(a.Utf8(), "2.02.611.01");
  EXPECT_EQ(a.Utf8(), b.Utf8());
  ASSERT_EQ(doc->get_ReferentialFilename(name.Put()), S_OK);
  EXPECT_EQ(name.Utf8(), enginetest::SampleSqlite());
}

TEST_F(DocumentTest, BlankMessageAndIndexFailures) {
  auto doc = NewDocument();
  Variant r;
  ASSERT_EQ(Call(doc.Get(), u"Validate", DISPATCH_METHOD, {Variant::Str(u" \r\n\t ")}, &r), S_OK);
  EXPECT_EQ(r.boolVal, VARIANT_FALSE);
  std::int32_t n = -1;
  doc->get_ErrorCount(&n);
  EXPECT_EQ(n, 1);
  doc->get_WarningCount(&n);
  EXPECT_EQ(n, 0);

  // Two reads of one finding give two objects; changing one changes nothing else.
  ComPtr<IEdiError> e1, e2;
  ASSERT_EQ(doc->get_Errors(0, e1.Put()), S_OK);
  ASSERT_EQ(doc->get_Errors(0, e2.Put()), S_OK);
  EXPECT_NE(e1.Get(), e2.Get());
  BStr code, text, str;
  e1->get_ErrorCode(code.Put());
  e1->get_ErrorMessage(text.Put());
  e1->get_ToString(str.Put());
  EXPECT_EQ(code.Utf8(), "E0002");
  EXPECT_EQ(text.Utf8(), "Empty Edifact message");
  EXPECT_EQ(str.Utf8(), "SegmentNo:0, SegmentKey:, Error:Empty Edifact message");
  BStr changed("changed");
  e1->put_ErrorMessage(changed.Get());
  BStr again;
  e2->get_ErrorMessage(again.Put());
  EXPECT_EQ(again.Utf8(), "Empty Edifact message");

  // Out of range: E_UNEXPECTED with the ProgID as the source of the error information.
  ComPtr<IEdiError> none;
  ClearErrorInfo();
  EXPECT_EQ(doc->get_Errors(1, none.Put()), E_UNEXPECTED);
  std::string description, source;
  ASSERT_TRUE(TakeErrorInfo(description, source));
  EXPECT_EQ(source, "Verimek.EdiDocument");
  EXPECT_EQ(description, "List index out of bounds (1)");
  ComPtr<IEdiWarning> w;
  EXPECT_EQ(doc->get_Warnings(0, w.Put()), E_UNEXPECTED);
  EXCEPINFO info{};
  EXPECT_EQ(Call(doc.Get(), u"Errors", DISPATCH_PROPERTYGET, {Variant::Int(-1)}, &r, &info), DISP_E_EXCEPTION);
  EXPECT_EQ(Str(info.bstrSource), "Verimek.EdiDocument");
  SysFreeString(info.bstrDescription);
  SysFreeString(info.bstrSource);

  // ValidateEx on an empty text: 0, Error as passed, inter-application switched off for good.
  BSTR error = SysAllocString(u"kept");
  std::int32_t result = -1;
  BStr blank(" ");
  ASSERT_EQ(doc->ValidateEx(blank.Get(), &error, &result), S_OK);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(Str(error), "kept");
  SysFreeString(error);
  VARIANT_BOOL ia = VARIANT_TRUE;
  doc->get_InterApplication(&ia);
  EXPECT_EQ(ia, VARIANT_FALSE);
}

// Every out-pointer is required: a missing one fails with E_POINTER and runs nothing, so the
// findings of the previous validation stay.
TEST_F(DocumentTest, NullOutPointersFail) {
  auto doc = NewDocument();
  BStr blank(" ");
  VARIANT_BOOL valid = VARIANT_TRUE;
  ASSERT_EQ(doc->Validate(blank.Get(), &valid), S_OK);  // E0002
  BStr text("XGH+1+0039+104512+002'XEH+90+1+0201+1++10'XET+90'XGT+1'");
  std::int32_t result = -1;
  EXPECT_EQ(doc->ValidateEx(text.Get(), nullptr, &result), E_POINTER);
  EXPECT_EQ(result, -1);
  BSTR error = nullptr;
  EXPECT_EQ(doc->ValidateEx(text.Get(), &error, nullptr), E_POINTER);
  EXPECT_EQ(doc->Validate(text.Get(), nullptr), E_POINTER);
  Variant byref;
  byref.vt = VT_BSTR | VT_BYREF;
  byref.pbstrVal = nullptr;
  Variant r;
  ClearErrorInfo();
  EXPECT_EQ(Call(doc.Get(), u"ValidateEx", DISPATCH_METHOD, {Variant::Str(u" "), byref}, &r), E_POINTER);
  byref.vt = VT_EMPTY;
  std::int32_t n = -1;
  ASSERT_EQ(doc->get_ErrorCount(&n), S_OK);
  EXPECT_EQ(n, 1);
  VARIANT_BOOL ia = VARIANT_FALSE;
  doc->get_InterApplication(&ia);
  EXPECT_EQ(ia, VARIANT_TRUE);  // ValidateEx did not run

  EXPECT_EQ(doc->get_ErrorCount(nullptr), E_POINTER);
  EXPECT_EQ(doc->get_WarningCount(nullptr), E_POINTER);
  EXPECT_EQ(doc->get_Errors(0, nullptr), E_POINTER);
  EXPECT_EQ(doc->get_Warnings(0, nullptr), E_POINTER);
  EXPECT_EQ(doc->get_InterApplication(nullptr), E_POINTER);
  EXPECT_EQ(doc->get_CheckFilter(nullptr), E_POINTER);
  EXPECT_EQ(doc->get_DbEvalVersion(nullptr), E_POINTER);
  EXPECT_EQ(doc->get_DbRefVersion(nullptr), E_POINTER);
  EXPECT_EQ(doc->get_ReferentialVersion(nullptr), E_POINTER);
  EXPECT_EQ(doc->get_ReferentialFilename(nullptr), E_POINTER);
  EXPECT_EQ(doc->get_ErrorCodeList(nullptr), E_POINTER);
  EXPECT_EQ(doc->get_WarningCodeList(nullptr), E_POINTER);
  ComPtr<IEdiError> e;
  ASSERT_EQ(doc->get_Errors(0, e.Put()), S_OK);
  EXPECT_EQ(e->get_SegmentNo(nullptr), E_POINTER);
  EXPECT_EQ(e->get_SegmentKey(nullptr), E_POINTER);
  EXPECT_EQ(e->get_ErrorMessage(nullptr), E_POINTER);
  EXPECT_EQ(e->get_ToString(nullptr), E_POINTER);
  EXPECT_EQ(e->get_ErrorCode(nullptr), E_POINTER);
  ComPtr<IEdiWarning> w;
  ASSERT_EQ(CreateInstance(ruvala::CLSID_EdiWarning, ruvala::IID_IEdiWarning, w), S_OK);
  EXPECT_EQ(w->get_SegmentNo(nullptr), E_POINTER);
  EXPECT_EQ(w->get_SegmentKey(nullptr), E_POINTER);
  EXPECT_EQ(w->get_WarningMessage(nullptr), E_POINTER);
  EXPECT_EQ(w->get_ToString(nullptr), E_POINTER);
  EXPECT_EQ(w->get_WarningCode(nullptr), E_POINTER);
}

TEST_F(DocumentTest, FindingsOfASampleThroughDispatch) {
  if (!Components::Parser) GTEST_SKIP() << "the parser component is not built";
  if (!common::FileExists(enginetest::SamplesDir() + "with-findings.txt")) GTEST_SKIP() << "no shared samples";
  auto doc = NewDocument();
  doc->put_InterApplication(VARIANT_FALSE);
  doc->put_MessageDate(45838.75);  // the time of day is dropped
  Variant r;
  ASSERT_EQ(
      Call(doc.Get(), u"Validate", DISPATCH_METHOD, {Variant::Str(Utf8ToUtf16(FirstLine("with-findings.txt", 2)))}, &r),
      S_OK);
  EXPECT_EQ(r.boolVal, VARIANT_FALSE);
  r.Clear();
  ASSERT_EQ(Call(doc.Get(), u"Errors", DISPATCH_PROPERTYGET, {Variant::Int(0)}, &r), S_OK);
  ASSERT_EQ(r.vt, VT_DISPATCH);
  Variant v;
  ASSERT_EQ(Call(r.pdispVal, u"SegmentKey", DISPATCH_PROPERTYGET, {}, &v), S_OK);
  EXPECT_EQ(Str(v.bstrVal), "ATT+A020");
  v.Clear();
  ASSERT_EQ(Call(r.pdispVal, u"SegmentNo", DISPATCH_PROPERTYGET, {}, &v), S_OK);
  EXPECT_EQ(v.lVal, 5);
  v.Clear();
  ASSERT_EQ(Call(r.pdispVal, u"ErrorCode", DISPATCH_PROPERTYGET, {}, &v), S_OK);
  EXPECT_EQ(Str(v.bstrVal), "E0009");

  // Warnings only: ValidateEx gives 2 and the warning's text; a clean message then gives 0.
  BStr error("unchanged");
  Variant byref;
  byref.vt = VT_BSTR | VT_BYREF;
  BSTR slot = error.Detach();
  byref.pbstrVal = &slot;
  r.Clear();
  ASSERT_EQ(Call(doc.Get(), u"ValidateEx", DISPATCH_METHOD,
                 {Variant::Str(Utf8ToUtf16(FirstLine("with-findings.txt", 1))), byref}, &r),
            S_OK);
  byref.vt = VT_EMPTY;
  EXPECT_EQ(r.lVal, 2);
  EXPECT_EQ(Str(slot), "Obsolete value for \"C005:1, X011:1\", found \"9\"");
  r.Clear();
  ASSERT_EQ(Call(doc.Get(), u"Warnings", DISPATCH_PROPERTYGET, {Variant::Int(0)}, &r), S_OK);
  ASSERT_EQ(r.vt, VT_DISPATCH);
  v.Clear();
  ASSERT_EQ(Call(r.pdispVal, u"ToString", DISPATCH_PROPERTYGET, {}, &v), S_OK);
  EXPECT_EQ(Str(v.bstrVal),
            "SegmentNo:5, SegmentKey:ATT+A020, Warning:Obsolete value for \"C005:1, X011:1\", found \"9\"");
  v.Clear();
  ASSERT_EQ(Call(r.pdispVal, u"WarningCode", DISPATCH_PROPERTYGET, {}, &v), S_OK);
  EXPECT_EQ(Str(v.bstrVal), "W0001");
  std::int32_t result = -1;
  BStr valid(FirstLine("valid.txt", 1));
  ASSERT_EQ(doc->ValidateEx(valid.Get(), &slot, &result), S_OK);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(Str(slot), "Obsolete value for \"C005:1, X011:1\", found \"9\"");
  SysFreeString(slot);
}

TEST_F(DocumentTest, ConcurrentDocumentsMatchSequentialResults) {
  if (!Components::Parser) GTEST_SKIP() << "the parser component is not built";
  if (!common::FileExists(enginetest::SamplesDir() + "with-findings.txt")) GTEST_SKIP() << "no shared samples";
  std::vector<std::string> lines;
  {
    std::ifstream in(enginetest::SamplesDir() + "with-findings.txt");
    for (std::string l; std::getline(in, l);) lines.push_back(l);
  }
  auto run = [&](std::vector<std::string>& out) {
    ScopedApartment apt;
    auto doc = NewDocument();
    doc->put_InterApplication(VARIANT_FALSE);
    doc->put_CheckFilter(VARIANT_TRUE);
    doc->put_MessageDate(45838);
    for (int round = 0; round < 3; ++round)
      for (const std::string& l : lines) {
        BStr text(l);
        VARIANT_BOOL ok;
        doc->Validate(text.Get(), &ok);
        std::int32_t n = 0;
        doc->get_ErrorCount(&n);
        std::string row = std::to_string(n);
        for (std::int32_t i = 0; i < n; ++i) {
          ComPtr<IEdiError> e;
          doc->get_Errors(i, e.Put());
          BStr s;
          e->get_ToString(s.Put());
          row += "|" + s.Utf8();
        }
        doc->get_WarningCount(&n);
        for (std::int32_t i = 0; i < n; ++i) {
          ComPtr<IEdiWarning> w;
          doc->get_Warnings(i, w.Put());
          BStr s;
          w->get_ToString(s.Put());
          row += "|" + s.Utf8();
        }
        out.push_back(row);
      }
  };
  std::vector<std::string> sequential, a, b;
  run(sequential);
  std::thread ta([&] { run(a); }), tb([&] { run(b); });
  ta.join();
  tb.join();
  EXPECT_EQ(a, sequential);
  EXPECT_EQ(b, sequential);
}
