// A small component server for the runtime tests: one dual-interface class.
#include "TestServer.h"

#include <dlfcn.h>
#include <edicom/EdiComServer.h>

#include <stdexcept>

using namespace edicom;
using namespace testserver;

namespace {

class TCounter final : public DispatchObject<TCounter, ICounter> {
 public:
  static constexpr IID kInterfaceId = IID_ICounter;
  static const DispMember* DispTable(std::size_t& n);

  HRESULT get_Value(std::int32_t* v) override {
    if (!v) return E_POINTER;
    *v = FValue;
    return S_OK;
  }
  HRESULT put_Value(std::int32_t v) override {
    FValue = v;
    return S_OK;
  }
  HRESULT Add(std::int32_t n) override {
    FValue += n;
    return S_OK;
  }
  HRESULT Echo(BSTR in, BSTR* out) override {
    if (!out) return E_POINTER;
    *out = SysAllocStringLen(in, SysStringLen(in));
    return S_OK;
  }
  HRESULT Fail(BSTR message) override {
    return GuardCall(u"Test.Counter.1", [&]() -> HRESULT {
      throw std::runtime_error(Utf16ToUtf8(std::u16string_view(message, SysStringLen(message))));
    });
  }

 private:
  std::int32_t FValue = 0;
};

const DispMember kCounterTable[] = {
    {u"Value",
     1,
     DISPATCH_PROPERTYGET,
     0,
     {},
     [](void* s, VARIANT*, VARIANT* r) -> HRESULT {
       std::int32_t v = 0;
       HRESULT hr = static_cast<TCounter*>(s)->get_Value(&v);
       return FAILED(hr) ? hr : RetI4(r, v);
     }},
    {u"Value",
     1,
     DISPATCH_PROPERTYPUT,
     1,
     {VT_I4},
     [](void* s, VARIANT* a, VARIANT*) { return static_cast<TCounter*>(s)->put_Value(a[0].lVal); }},
    {u"Add",
     2,
     DISPATCH_METHOD,
     1,
     {VT_I4},
     [](void* s, VARIANT* a, VARIANT*) { return static_cast<TCounter*>(s)->Add(a[0].lVal); }},
    {u"Echo",
     3,
     DISPATCH_METHOD,
     1,
     {VT_BSTR},
     [](void* s, VARIANT* a, VARIANT* r) -> HRESULT {
       BSTR out = nullptr;
       HRESULT hr = static_cast<TCounter*>(s)->Echo(a[0].bstrVal, &out);
       return FAILED(hr) ? hr : RetBstr(r, out);
     }},
    {u"Fail",
     4,
     DISPATCH_METHOD,
     1,
     {VT_BSTR},
     [](void* s, VARIANT* a, VARIANT*) { return static_cast<TCounter*>(s)->Fail(a[0].bstrVal); }},
};

const DispMember* TCounter::DispTable(std::size_t& n) {
  n = sizeof kCounterTable / sizeof kCounterTable[0];
  return kCounterTable;
}

const ClassRegistration kClasses[] = {{&CLSID_Counter, "Counter Class", "Test.Counter.1", "Test.Counter"}};

std::string ModulePath() {
  Dl_info info{};
  dladdr(reinterpret_cast<void*>(&ModulePath), &info);
  char buf[4096];
  return realpath(info.dli_fname, buf) ? buf : info.dli_fname;
}

}  // namespace

EDICOM_API HRESULT DllGetClassObject(const CLSID& clsid, const IID& iid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (clsid != CLSID_Counter) return CLASS_E_CLASSNOTAVAILABLE;
  auto* f = new ClassFactory<TCounter>();
  HRESULT hr = f->QueryInterface(iid, ppv);
  f->Release();
  return hr;
}

EDICOM_API HRESULT DllCanUnloadNow() { return gModuleLocks.load() == 0 ? S_OK : S_FALSE; }
EDICOM_API HRESULT DllRegisterServer() { return EdiRegisterServer(ModulePath().c_str(), kClasses, 1, nullptr); }
EDICOM_API HRESULT DllUnregisterServer() { return EdiUnregisterServer(kClasses, 1, nullptr); }
EDICOM_API long TestServerAlive() { return gModuleLocks.load(); }
