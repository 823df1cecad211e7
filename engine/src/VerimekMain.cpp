// The component server of the engine: the validation document, its error and warning objects,
// and the entry points of libruvala.so (type library "Verimek").
#include <edicom/EdiComServer.h>
#include <ruvala/Ruvala.h>

#include <cmath>
#include <mutex>

#include "Platform.h"
#include "SysTrace.h"
#include "ecDataBase.h"
#include "ecErrors.h"
#include "ecTelebib.h"
#include "ecTrace.h"
#include "ecTypes.h"
#include "ecValidator.h"

namespace ruvala {

using namespace edicom;

namespace {

// Validations share the referential and its checkers, which keep state while they run: one at a
// time in the whole process, preparation and version queries included.
std::mutex& EngineLock() {
  static std::mutex m;
  return m;
}

BSTR NewBstr(const std::string& utf8) {
  std::u16string w = Utf8ToUtf16(utf8);
  return SysAllocStringLen(w.data(), static_cast<unsigned>(w.size()));
}

std::string FromBstr(BSTR s) { return s ? TextFromCom(std::u16string_view(s, SysStringLen(s))) : std::string(); }

// Loads what a validation or a version query needs: engine database, referential, and a
// fresh copy of a SQL Server referential whose version moved.
void Prepare(bool needRelations) {
  if (needRelations && Relations().DbName().empty()) InitRelations();
  TTelebib& t = TelebibInstance();
  if (!t.Initialized()) t.LoadSettings();
  if (t.Initialized() && t.UseSql() && t.VersionHasChanged()) t.Reload();
}

}  // namespace

// --- EdiError / EdiWarning ----------------------------------------------------------------------

// Property holders: copies of one finding, owned by the client.
template <class Derived, class Iface>
class TFindingObject : public DispatchObject<Derived, Iface> {
 public:
  std::int32_t FSegmentNo = 0;
  std::string FSegmentKey, FCode, FMessage;

  HRESULT GetNo(std::int32_t* v) {
    if (!v) return E_POINTER;
    *v = FSegmentNo;
    return S_OK;
  }
  HRESULT PutNo(std::int32_t v) {
    FSegmentNo = v;
    return S_OK;
  }
  static HRESULT GetText(const std::string& field, BSTR* v) {
    if (!v) return E_POINTER;
    *v = NewBstr(field);
    return S_OK;
  }
  static HRESULT PutText(std::string& field, BSTR v) {
    field = FromBstr(v);
    return S_OK;
  }
};

class TEdiError final : public TFindingObject<TEdiError, IEdiError> {
 public:
  static constexpr const IID& kInterfaceId = IID_IEdiError;
  HRESULT get_SegmentNo(std::int32_t* v) override { return GetNo(v); }
  HRESULT put_SegmentNo(std::int32_t v) override { return PutNo(v); }
  HRESULT get_SegmentKey(BSTR* v) override { return GetText(FSegmentKey, v); }
  HRESULT put_SegmentKey(BSTR v) override { return PutText(FSegmentKey, v); }
  HRESULT get_ErrorMessage(BSTR* v) override { return GetText(FMessage, v); }
  HRESULT put_ErrorMessage(BSTR v) override { return PutText(FMessage, v); }
  HRESULT get_ToString(BSTR* v) override {
    return GetText(common::Fmt("SegmentNo:%d, SegmentKey:%s, Error:%s", FSegmentNo, FSegmentKey, FMessage), v);
  }
  HRESULT get_ErrorCode(BSTR* v) override { return GetText(FCode, v); }
  HRESULT put_ErrorCode(BSTR v) override { return PutText(FCode, v); }
  static const DispMember* DispTable(std::size_t& n);
};

class TEdiWarning final : public TFindingObject<TEdiWarning, IEdiWarning> {
 public:
  static constexpr const IID& kInterfaceId = IID_IEdiWarning;
  HRESULT get_SegmentNo(std::int32_t* v) override { return GetNo(v); }
  HRESULT put_SegmentNo(std::int32_t v) override { return PutNo(v); }
  HRESULT get_SegmentKey(BSTR* v) override { return GetText(FSegmentKey, v); }
  HRESULT put_SegmentKey(BSTR v) override { return PutText(FSegmentKey, v); }
  HRESULT get_WarningMessage(BSTR* v) override { return GetText(FMessage, v); }
  HRESULT put_WarningMessage(BSTR v) override { return PutText(FMessage, v); }
  HRESULT get_ToString(BSTR* v) override {
    return GetText(common::Fmt("SegmentNo:%d, SegmentKey:%s, Warning:%s", FSegmentNo, FSegmentKey, FMessage), v);
  }
  HRESULT get_WarningCode(BSTR* v) override { return GetText(FCode, v); }
  HRESULT put_WarningCode(BSTR v) override { return PutText(FCode, v); }
  static const DispMember* DispTable(std::size_t& n);
};

// Dispatch thunks shared by both finding classes: the members differ only in their ids.
template <class T, class I>
struct TFindingThunks {
  static HRESULT GetNo(void* s, VARIANT*, VARIANT* r) {
    std::int32_t v = 0;
    HRESULT hr = static_cast<T*>(s)->get_SegmentNo(&v);
    return FAILED(hr) ? hr : RetI4(r, v);
  }
  static HRESULT PutNo(void* s, VARIANT* a, VARIANT*) { return static_cast<T*>(s)->put_SegmentNo(a[0].lVal); }
  template <HRESULT (I::*Get)(BSTR*)>
  static HRESULT GetStr(void* s, VARIANT*, VARIANT* r) {
    BSTR b = nullptr;
    HRESULT hr = (static_cast<T*>(s)->*Get)(&b);
    return FAILED(hr) ? hr : RetBstr(r, b);
  }
  template <HRESULT (I::*Put)(BSTR)>
  static HRESULT PutStr(void* s, VARIANT* a, VARIANT*) {
    return (static_cast<T*>(s)->*Put)(a[0].bstrVal);
  }
};

const DispMember* TEdiError::DispTable(std::size_t& n) {
  using X = TFindingThunks<TEdiError, IEdiError>;
  static const DispMember t[] = {
      {u"SegmentNo", 1, DISPATCH_PROPERTYGET, 0, {}, X::GetNo},
      {u"SegmentNo", 1, DISPATCH_PROPERTYPUT, 1, {VT_I4}, X::PutNo},
      {u"SegmentKey", 2, DISPATCH_PROPERTYGET, 0, {}, X::GetStr<&IEdiError::get_SegmentKey>},
      {u"SegmentKey", 2, DISPATCH_PROPERTYPUT, 1, {VT_BSTR}, X::PutStr<&IEdiError::put_SegmentKey>},
      {u"ErrorMessage", 3, DISPATCH_PROPERTYGET, 0, {}, X::GetStr<&IEdiError::get_ErrorMessage>},
      {u"ErrorMessage", 3, DISPATCH_PROPERTYPUT, 1, {VT_BSTR}, X::PutStr<&IEdiError::put_ErrorMessage>},
      {u"ToString", 4, DISPATCH_PROPERTYGET, 0, {}, X::GetStr<&IEdiError::get_ToString>},
      {u"ErrorCode", 201, DISPATCH_PROPERTYGET, 0, {}, X::GetStr<&IEdiError::get_ErrorCode>},
      {u"ErrorCode", 201, DISPATCH_PROPERTYPUT, 1, {VT_BSTR}, X::PutStr<&IEdiError::put_ErrorCode>},
  };
  n = sizeof t / sizeof t[0];
  return t;
}

const DispMember* TEdiWarning::DispTable(std::size_t& n) {
  using X = TFindingThunks<TEdiWarning, IEdiWarning>;
  static const DispMember t[] = {
      {u"SegmentNo", 201, DISPATCH_PROPERTYGET, 0, {}, X::GetNo},
      {u"SegmentNo", 201, DISPATCH_PROPERTYPUT, 1, {VT_I4}, X::PutNo},
      {u"SegmentKey", 202, DISPATCH_PROPERTYGET, 0, {}, X::GetStr<&IEdiWarning::get_SegmentKey>},
      {u"SegmentKey", 202, DISPATCH_PROPERTYPUT, 1, {VT_BSTR}, X::PutStr<&IEdiWarning::put_SegmentKey>},
      {u"WarningMessage", 203, DISPATCH_PROPERTYGET, 0, {}, X::GetStr<&IEdiWarning::get_WarningMessage>},
      {u"WarningMessage", 203, DISPATCH_PROPERTYPUT, 1, {VT_BSTR}, X::PutStr<&IEdiWarning::put_WarningMessage>},
      {u"ToString", 204, DISPATCH_PROPERTYGET, 0, {}, X::GetStr<&IEdiWarning::get_ToString>},
      {u"WarningCode", 205, DISPATCH_PROPERTYGET, 0, {}, X::GetStr<&IEdiWarning::get_WarningCode>},
      {u"WarningCode", 205, DISPATCH_PROPERTYPUT, 1, {VT_BSTR}, X::PutStr<&IEdiWarning::put_WarningCode>},
  };
  n = sizeof t / sizeof t[0];
  return t;
}

// A finding object made here rather than through the class registry: they are this library's
// own classes, and a registry lookup per Errors(i) cost more than the validation. The object is
// the one the factory would make (same class, interfaces and members), handed out with its one
// reference.
template <class T>
T* NewFinding(const TEdiErrorItem& item) {
  auto* obj = new T();
  obj->FSegmentNo = item.SgmtNo;
  obj->FSegmentKey = item.SgmtKey;
  obj->FCode = item.Error.Code;
  obj->FMessage = item.Error.Message;
  return obj;
}

// --- EdiDocument -------------------------------------------------------------------------------

class TEdiDocument final : public DispatchObject<TEdiDocument, IEdiDocument>, public IEdiReferentialInfo {
 public:
  static constexpr const IID& kInterfaceId = IID_IEdiDocument;
  static constexpr const char16_t* kProgId = u"Verimek.EdiDocument";
  static const DispMember* DispTable(std::size_t& n);

  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    if (ppv && riid == IID_IEdiReferentialInfo) {
      *ppv = static_cast<IEdiReferentialInfo*>(this);
      AddRef();
      return S_OK;
    }
    return DispatchObject::QueryInterface(riid, ppv);
  }
  ULONG AddRef() override { return DispatchObject::AddRef(); }
  ULONG Release() override { return DispatchObject::Release(); }

  HRESULT Load() override {
    return GuardCall(kProgId, [&] {
      std::lock_guard<std::mutex> lock(EngineLock());
      TTelebib& t = TelebibInstance();
      if (!t.Initialized()) t.LoadSettings();
      return t.Initialized() ? S_OK : S_FALSE;
    });
  }
  HRESULT get_Version(BSTR* version) override { return ReferentialVersion(version); }
  HRESULT get_TableCounts(BSTR* counts) override {
    return GuardCall(kProgId, [&] {
      if (!counts) return E_POINTER;
      std::lock_guard<std::mutex> lock(EngineLock());
      TTelebib& t = TelebibInstance();
      if (!t.Initialized()) t.LoadSettings();
      std::string text;
      for (const auto& [table, rows] : t.TableCounts()) text += table + "=" + std::to_string(rows) + "\n";
      *counts = NewBstr(text);
      return S_OK;
    });
  }

  HRESULT Validate(BSTR e1, VARIANT_BOOL* valid) override {
    return GuardCall(kProgId, [&] {
      if (!valid) return E_POINTER;
      std::lock_guard<std::mutex> lock(EngineLock());
      TraceInfo(this, "Validate()");
      Prepare(true);
      FValidator.SetEdiMessage(e1);
      *valid = FValidator.Validate() ? VARIANT_TRUE : VARIANT_FALSE;
      return S_OK;
    });
  }
  HRESULT ValidateEx(BSTR e1, BSTR* error, std::int32_t* result) override {
    return GuardCall(kProgId, [&] {
      // Error is in and out: without it the chosen text would be lost.
      if (!error || !result) return E_POINTER;
      std::lock_guard<std::mutex> lock(EngineLock());
      TraceInfo(this, "ValidateEx()");
      Prepare(true);
      FValidator.SetEdiMessage(e1);
      FValidator.SetInterApplication(false);
      std::string text;
      *result = FValidator.ValidateEx(text);
      if (*result != 0) {
        SysFreeString(*error);
        *error = NewBstr(text);
      }
      return S_OK;
    });
  }
  HRESULT get_ErrorCount(std::int32_t* count) override {
    if (!count) return E_POINTER;
    *count = FValidator.Errors().Count();
    return S_OK;
  }
  HRESULT get_WarningCount(std::int32_t* count) override {
    if (!count) return E_POINTER;
    *count = FValidator.Warnings().Count();
    return S_OK;
  }
  HRESULT get_Errors(std::int32_t index, IEdiError** error) override {
    return GuardCall(kProgId, [&] {
      if (!error) return E_POINTER;
      *error = nullptr;
      *error = NewFinding<TEdiError>(FValidator.Errors().GetItems(index));
      return S_OK;
    });
  }
  HRESULT get_Warnings(std::int32_t index, IEdiWarning** warning) override {
    return GuardCall(kProgId, [&] {
      if (!warning) return E_POINTER;
      *warning = nullptr;
      *warning = NewFinding<TEdiWarning>(FValidator.Warnings().GetItems(index));
      return S_OK;
    });
  }
  HRESULT get_InterApplication(VARIANT_BOOL* v) override {
    if (!v) return E_POINTER;
    *v = FValidator.InterApplication() ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
  }
  HRESULT put_InterApplication(VARIANT_BOOL v) override {
    FValidator.SetInterApplication(v != VARIANT_FALSE);
    return S_OK;
  }
  HRESULT get_CheckFilter(VARIANT_BOOL* v) override {
    if (!v) return E_POINTER;
    *v = FValidator.CheckFilter() ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
  }
  HRESULT put_CheckFilter(VARIANT_BOOL v) override {
    FValidator.SetCheckFilter(v != VARIANT_FALSE);
    return S_OK;
  }
  HRESULT put_MessageDate(DATE date) override {
    FValidator.SetMessageDate(std::trunc(date));
    return S_OK;
  }
  HRESULT get_DbEvalVersion(BSTR* version) override {
    return GuardCall(kProgId, [&] {
      if (!version) return E_POINTER;
      std::lock_guard<std::mutex> lock(EngineLock());
      std::string v;
      if (Relations().DbName().empty()) InitRelations();
      v = Relations().GetVersion();
      *version = NewBstr(v);
      return S_OK;
    });
  }
  HRESULT get_DbRefVersion(BSTR* version) override { return ReferentialVersion(version); }
  HRESULT get_ReferentialVersion(BSTR* version) override { return ReferentialVersion(version); }
  HRESULT get_ReferentialFilename(BSTR* name) override {
    return GuardCall(kProgId, [&] {
      if (!name) return E_POINTER;
      std::lock_guard<std::mutex> lock(EngineLock());
      TTelebib& t = TelebibInstance();
      if (!t.Initialized()) t.LoadSettings();
      *name = NewBstr(t.UseSql() ? std::string() : t.AccessDbName());
      return S_OK;
    });
  }
  HRESULT get_ErrorCodeList(BSTR* list) override {
    if (!list) return E_POINTER;
    *list = NewBstr(GetErrorCodeList());
    return S_OK;
  }
  HRESULT get_WarningCodeList(BSTR* list) override {
    if (!list) return E_POINTER;
    *list = NewBstr(GetWarningCodeList());
    return S_OK;
  }

 private:
  HRESULT ReferentialVersion(BSTR* version) {
    return GuardCall(kProgId, [&] {
      if (!version) return E_POINTER;
      std::lock_guard<std::mutex> lock(EngineLock());
      TTelebib& t = TelebibInstance();
      if (!t.Initialized()) t.LoadSettings();
      *version = NewBstr(t.GetVersion());
      return S_OK;
    });
  }

  TValidator FValidator;
};

namespace {

TEdiDocument* Doc(void* s) { return static_cast<TEdiDocument*>(s); }

HRESULT GetBoolThunk(HRESULT hr, VARIANT_BOOL v, VARIANT* r) { return FAILED(hr) ? hr : RetBool(r, v); }
HRESULT GetI4Thunk(HRESULT hr, std::int32_t v, VARIANT* r) { return FAILED(hr) ? hr : RetI4(r, v); }
HRESULT GetBstrThunk(HRESULT hr, BSTR v, VARIANT* r) { return FAILED(hr) ? hr : RetBstr(r, v); }
HRESULT GetDispThunk(HRESULT hr, IDispatch* v, VARIANT* r) {
  if (FAILED(hr)) return hr;
  r->vt = VT_DISPATCH;
  r->pdispVal = v;
  return S_OK;
}

}  // namespace

const DispMember* TEdiDocument::DispTable(std::size_t& n) {
  static const DispMember t[] = {
      {u"Validate",
       1,
       DISPATCH_METHOD,
       1,
       {VT_BSTR},
       [](void* s, VARIANT* a, VARIANT* r) {
         VARIANT_BOOL v = 0;
         HRESULT hr = Doc(s)->Validate(a[0].bstrVal, &v);
         return GetBoolThunk(hr, v, r);
       }},
      {u"ErrorCount",
       2,
       DISPATCH_PROPERTYGET,
       0,
       {},
       [](void* s, VARIANT*, VARIANT* r) {
         std::int32_t v = 0;
         HRESULT hr = Doc(s)->get_ErrorCount(&v);
         return GetI4Thunk(hr, v, r);
       }},
      {u"Errors",
       3,
       DISPATCH_PROPERTYGET,
       1,
       {VT_I4},
       [](void* s, VARIANT* a, VARIANT* r) {
         IEdiError* v = nullptr;
         HRESULT hr = Doc(s)->get_Errors(a[0].lVal, &v);
         return GetDispThunk(hr, v, r);
       }},
      {u"InterApplication",
       4,
       DISPATCH_PROPERTYGET,
       0,
       {},
       [](void* s, VARIANT*, VARIANT* r) {
         VARIANT_BOOL v = 0;
         HRESULT hr = Doc(s)->get_InterApplication(&v);
         return GetBoolThunk(hr, v, r);
       }},
      {u"InterApplication",
       4,
       DISPATCH_PROPERTYPUT,
       1,
       {VT_BOOL},
       [](void* s, VARIANT* a, VARIANT*) { return Doc(s)->put_InterApplication(a[0].boolVal); }},
      {u"DbEvalVersion",
       5,
       DISPATCH_PROPERTYGET,
       0,
       {},
       [](void* s, VARIANT*, VARIANT* r) {
         BSTR v = nullptr;
         HRESULT hr = Doc(s)->get_DbEvalVersion(&v);
         return GetBstrThunk(hr, v, r);
       }},
      {u"DbRefVersion",
       6,
       DISPATCH_PROPERTYGET,
       0,
       {},
       [](void* s, VARIANT*, VARIANT* r) {
         BSTR v = nullptr;
         HRESULT hr = Doc(s)->get_DbRefVersion(&v);
         return GetBstrThunk(hr, v, r);
       }},
      {u"MessageDate",
       7,
       DISPATCH_PROPERTYPUT,
       1,
       {VT_DATE},
       [](void* s, VARIANT* a, VARIANT*) { return Doc(s)->put_MessageDate(a[0].date); }},
      {u"ValidateEx",
       8,
       DISPATCH_METHOD,
       2,
       {VT_BSTR, VT_BSTR | VT_BYREF},
       [](void* s, VARIANT* a, VARIANT* r) {
         std::int32_t v = 0;
         HRESULT hr = Doc(s)->ValidateEx(a[0].bstrVal, a[1].pbstrVal, &v);
         return GetI4Thunk(hr, v, r);
       }},
      {u"CheckFilter",
       201,
       DISPATCH_PROPERTYGET,
       0,
       {},
       [](void* s, VARIANT*, VARIANT* r) {
         VARIANT_BOOL v = 0;
         HRESULT hr = Doc(s)->get_CheckFilter(&v);
         return GetBoolThunk(hr, v, r);
       }},
      {u"CheckFilter",
       201,
       DISPATCH_PROPERTYPUT,
       1,
       {VT_BOOL},
       [](void* s, VARIANT* a, VARIANT*) { return Doc(s)->put_CheckFilter(a[0].boolVal); }},
      {u"WarningCount",
       202,
       DISPATCH_PROPERTYGET,
       0,
       {},
       [](void* s, VARIANT*, VARIANT* r) {
         std::int32_t v = 0;
         HRESULT hr = Doc(s)->get_WarningCount(&v);
         return GetI4Thunk(hr, v, r);
       }},
      {u"Warnings",
       203,
       DISPATCH_PROPERTYGET,
       1,
       {VT_I4},
       [](void* s, VARIANT* a, VARIANT* r) {
         IEdiWarning* v = nullptr;
         HRESULT hr = Doc(s)->get_Warnings(a[0].lVal, &v);
         return GetDispThunk(hr, v, r);
       }},
      {u"ErrorCodeList",
       204,
       DISPATCH_PROPERTYGET,
       0,
       {},
       [](void* s, VARIANT*, VARIANT* r) {
         BSTR v = nullptr;
         HRESULT hr = Doc(s)->get_ErrorCodeList(&v);
         return GetBstrThunk(hr, v, r);
       }},
      {u"WarningCodeList",
       205,
       DISPATCH_PROPERTYGET,
       0,
       {},
       [](void* s, VARIANT*, VARIANT* r) {
         BSTR v = nullptr;
         HRESULT hr = Doc(s)->get_WarningCodeList(&v);
         return GetBstrThunk(hr, v, r);
       }},
      {u"ReferentialVersion",
       206,
       DISPATCH_PROPERTYGET,
       0,
       {},
       [](void* s, VARIANT*, VARIANT* r) {
         BSTR v = nullptr;
         HRESULT hr = Doc(s)->get_ReferentialVersion(&v);
         return GetBstrThunk(hr, v, r);
       }},
      {u"ReferentialFilename",
       207,
       DISPATCH_PROPERTYGET,
       0,
       {},
       [](void* s, VARIANT*, VARIANT* r) {
         BSTR v = nullptr;
         HRESULT hr = Doc(s)->get_ReferentialFilename(&v);
         return GetBstrThunk(hr, v, r);
       }},
  };
  n = sizeof t / sizeof t[0];
  return t;
}

// --- module ------------------------------------------------------------------------------------

namespace {

const ClassRegistration kClasses[] = {
    {&CLSID_EdiDocument, "EdiDocument Object", ProgID_EdiDocument, nullptr},
    {&CLSID_EdiError, "EdiError Object", ProgID_EdiError, nullptr},
    {&CLSID_EdiWarning, "EdiWarning object", ProgID_EdiWarning, nullptr},
};
const TypeLibRegistration kTypeLib = {&LIBID_Verimek, "Verimek", "1.0", "Verimek Library"};

// The three class factories live from load to unload.
IClassFactory* gFactories[3] = {};

__attribute__((constructor)) void RuvalaLoad() {
  gFactories[0] = new ClassFactory<TEdiDocument>();
  gFactories[1] = new ClassFactory<TEdiError>();
  gFactories[2] = new ClassFactory<TEdiWarning>();
  common::InitLibraryTrace();  // "Software\Tarnholt\Ruvala", writes "Trace system initialized."
}

__attribute__((destructor)) void RuvalaUnload() {
  for (IClassFactory*& f : gFactories)
    if (f) std::exchange(f, nullptr)->Release();
}

}  // namespace

}  // namespace ruvala

using namespace edicom;

EDICOM_API HRESULT DllGetClassObject(const CLSID& rclsid, const IID& riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  for (int i = 0; i < 3; ++i)
    if (*ruvala::kClasses[i].clsid == rclsid && ruvala::gFactories[i])
      return ruvala::gFactories[i]->QueryInterface(riid, ppv);
  return CLASS_E_CLASSNOTAVAILABLE;
}

EDICOM_API HRESULT DllCanUnloadNow() { return gModuleLocks.load() == 0 ? S_OK : S_FALSE; }

EDICOM_API HRESULT DllRegisterServer() {
  // The soname link rather than the versioned file, so that an update keeps the registration.
  std::string path = common::ServerFileName(reinterpret_cast<const void*>(&DllRegisterServer), EDI_SONAME);
  return EdiRegisterServer(path.c_str(), ruvala::kClasses, 3, &ruvala::kTypeLib);
}

EDICOM_API HRESULT DllUnregisterServer() { return EdiUnregisterServer(ruvala::kClasses, 3, &ruvala::kTypeLib); }
