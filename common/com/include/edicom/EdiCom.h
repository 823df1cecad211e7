// The component runtime: automation types, base interfaces and the functions of libedicom.so.
//
// This header is published with the component libraries: a client needs only it, the
// interface headers of the components and the installed shared libraries.
#pragma once

#include <cstddef>
#include <cstdint>

#define EDICOM_API extern "C" __attribute__((visibility("default")))

namespace edicom {

using HRESULT = std::int32_t;
using ULONG = std::uint32_t;
using DWORD = std::uint32_t;
using WORD = std::uint16_t;
using LCID = std::uint32_t;
using DISPID = std::int32_t;
using VARTYPE = std::uint16_t;
using OLECHAR = char16_t;
using BSTR = OLECHAR*;
using LPCOLESTR = const OLECHAR*;
using VARIANT_BOOL = std::int16_t;
using DATE = double;  // days since 30 December 1899, fraction = time of day

struct GUID {
  std::uint32_t Data1;
  std::uint16_t Data2;
  std::uint16_t Data3;
  std::uint8_t Data4[8];
};
using IID = GUID;
using CLSID = GUID;
using REFIID = const GUID&;
using REFCLSID = const GUID&;

inline bool operator==(const GUID& a, const GUID& b) {
  if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
  for (int i = 0; i < 8; ++i)
    if (a.Data4[i] != b.Data4[i]) return false;
  return true;
}
inline bool operator!=(const GUID& a, const GUID& b) { return !(a == b); }

// Result codes.
constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_NOTIMPL = static_cast<HRESULT>(0x80004001u);
constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002u);
constexpr HRESULT E_POINTER = static_cast<HRESULT>(0x80004003u);
constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
constexpr HRESULT E_UNEXPECTED = static_cast<HRESULT>(0x8000FFFFu);
constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000Eu);
constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057u);
constexpr HRESULT CLASS_E_NOAGGREGATION = static_cast<HRESULT>(0x80040110u);
constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = static_cast<HRESULT>(0x80040111u);
constexpr HRESULT REGDB_E_CLASSNOTREG = static_cast<HRESULT>(0x80040154u);
constexpr HRESULT CO_E_CLASSSTRING = static_cast<HRESULT>(0x800401F3u);
constexpr HRESULT CO_E_DLLNOTFOUND = static_cast<HRESULT>(0x800401F8u);
constexpr HRESULT CO_E_ERRORINDLL = static_cast<HRESULT>(0x800401F9u);
constexpr HRESULT DISP_E_UNKNOWNINTERFACE = static_cast<HRESULT>(0x80020001u);
constexpr HRESULT DISP_E_MEMBERNOTFOUND = static_cast<HRESULT>(0x80020003u);
constexpr HRESULT DISP_E_PARAMNOTFOUND = static_cast<HRESULT>(0x80020004u);
constexpr HRESULT DISP_E_TYPEMISMATCH = static_cast<HRESULT>(0x80020005u);
constexpr HRESULT DISP_E_UNKNOWNNAME = static_cast<HRESULT>(0x80020006u);
constexpr HRESULT DISP_E_EXCEPTION = static_cast<HRESULT>(0x80020009u);
constexpr HRESULT DISP_E_OVERFLOW = static_cast<HRESULT>(0x8002000Au);
constexpr HRESULT DISP_E_BADPARAMCOUNT = static_cast<HRESULT>(0x8002000Eu);
constexpr HRESULT DISP_E_PARAMNOTOPTIONAL = static_cast<HRESULT>(0x8002000Fu);
constexpr HRESULT SELFREG_E_CLASS = static_cast<HRESULT>(0x80040201u);

inline bool SUCCEEDED(HRESULT hr) { return hr >= 0; }
inline bool FAILED(HRESULT hr) { return hr < 0; }

constexpr VARIANT_BOOL VARIANT_TRUE = -1;
constexpr VARIANT_BOOL VARIANT_FALSE = 0;

// Variant types understood by the runtime.
enum : VARTYPE {
  VT_EMPTY = 0,
  VT_NULL = 1,
  VT_I2 = 2,
  VT_I4 = 3,
  VT_R8 = 5,
  VT_DATE = 7,
  VT_BSTR = 8,
  VT_DISPATCH = 9,
  VT_ERROR = 10,
  VT_BOOL = 11,
  VT_VARIANT = 12,
  VT_UNKNOWN = 13,
  VT_UI1 = 17,
  VT_BYREF = 0x4000,
};

struct IUnknown;
struct IDispatch;

struct VARIANT {
  VARTYPE vt;
  WORD wReserved1;
  WORD wReserved2;
  WORD wReserved3;
  union {
    std::int32_t lVal;
    std::int16_t iVal;
    std::uint8_t bVal;
    double dblVal;
    VARIANT_BOOL boolVal;
    DATE date;
    HRESULT scode;
    BSTR bstrVal;
    IUnknown* punkVal;
    IDispatch* pdispVal;
    std::int32_t* plVal;
    VARIANT_BOOL* pboolVal;
    double* pdblVal;
    BSTR* pbstrVal;
    VARIANT* pvarVal;
    void* byref;
  };
};
using VARIANTARG = VARIANT;

// Arguments of IDispatch::Invoke. rgvarg holds the arguments in reverse order, as usual.
struct DISPPARAMS {
  VARIANTARG* rgvarg;
  DISPID* rgdispidNamedArgs;
  unsigned cArgs;
  unsigned cNamedArgs;
};

struct EXCEPINFO {
  WORD wCode;
  WORD wReserved;
  BSTR bstrSource;
  BSTR bstrDescription;
  BSTR bstrHelpFile;
  DWORD dwHelpContext;
  void* pvReserved;
  void* pfnDeferredFillIn;
  HRESULT scode;
};

constexpr WORD DISPATCH_METHOD = 0x1;
constexpr WORD DISPATCH_PROPERTYGET = 0x2;
constexpr WORD DISPATCH_PROPERTYPUT = 0x4;
constexpr WORD DISPATCH_PROPERTYPUTREF = 0x8;
constexpr DISPID DISPID_UNKNOWN = -1;
constexpr DISPID DISPID_PROPERTYPUT = -3;

constexpr DWORD CLSCTX_INPROC_SERVER = 0x1;

// {00000000-0000-0000-C000-000000000046}
constexpr IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
// {00020400-0000-0000-C000-000000000046}
constexpr IID IID_IDispatch = {0x00020400, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
// {00000001-0000-0000-C000-000000000046}
constexpr IID IID_IClassFactory = {0x00000001, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

// Reference-counted base interface. Objects start with one reference owned by whoever
// received them and are destroyed by the Release that drops the last one.
struct IUnknown {
  virtual HRESULT QueryInterface(REFIID riid, void** ppv) = 0;
  virtual ULONG AddRef() = 0;
  virtual ULONG Release() = 0;

 protected:
  ~IUnknown() = default;
};

// Late binding: members by name and dispatch id. Dual interfaces put their own members
// after these four, in the order their headers give.
struct IDispatch : IUnknown {
  virtual HRESULT GetTypeInfoCount(unsigned* pctinfo) = 0;
  virtual HRESULT GetTypeInfo(unsigned iTInfo, LCID lcid, void** ppTInfo) = 0;
  virtual HRESULT GetIDsOfNames(REFIID riid, LPCOLESTR* rgszNames, unsigned cNames, LCID lcid, DISPID* rgDispId) = 0;
  virtual HRESULT Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags, DISPPARAMS* pDispParams,
                         VARIANT* pVarResult, EXCEPINFO* pExcepInfo, unsigned* puArgErr) = 0;

 protected:
  ~IDispatch() = default;
};

struct IClassFactory : IUnknown {
  virtual HRESULT CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppvObject) = 0;
  virtual HRESULT LockServer(int fLock) = 0;

 protected:
  ~IClassFactory() = default;
};

// What a server registers per class (DllRegisterServer).
struct ClassRegistration {
  const CLSID* clsid;
  const char* description;           // "EdiMessage Class"
  const char* progId;                // "Tarnholt.EdiMessage.1"
  const char* versionIndependentId;  // "Tarnholt.EdiMessage", or nullptr
};
struct TypeLibRegistration {
  const GUID* libid;
  const char* name;        // "KalvixLib"
  const char* version;     // "1.0"
  const char* helpString;  // "Ombra Edifact Parser/Generator"
};

}  // namespace edicom

// Functions of the runtime library (libedicom.so). All are safe to call from any thread.
EDICOM_API edicom::BSTR SysAllocString(edicom::LPCOLESTR psz);
EDICOM_API edicom::BSTR SysAllocStringLen(const edicom::OLECHAR* pch, unsigned cch);
EDICOM_API unsigned SysStringLen(edicom::BSTR bstr);
EDICOM_API void SysFreeString(edicom::BSTR bstr);

EDICOM_API void VariantInit(edicom::VARIANT* pvarg);
EDICOM_API edicom::HRESULT VariantClear(edicom::VARIANT* pvarg);
EDICOM_API edicom::HRESULT VariantCopy(edicom::VARIANT* pvargDest, const edicom::VARIANT* pvargSrc);
// Converts between empty, I2, I4, R8, DATE, BOOL and BSTR; a reference is followed first.
EDICOM_API edicom::HRESULT VariantChangeType(edicom::VARIANT* pvargDest, const edicom::VARIANT* pvarSrc,
                                             edicom::WORD wFlags, edicom::VARTYPE vt);

// Apartment enter/leave with a per-thread count. S_OK on the first enter, S_FALSE after.
EDICOM_API edicom::HRESULT CoInitialize(void* pvReserved);
EDICOM_API void CoUninitialize();
// Number of times the calling thread entered its apartment and has not left it.
EDICOM_API int CoApartmentDepth();

// Creation through the class registry (HKEY_CLASSES_ROOT\CLSID\{...}\InprocServer32).
EDICOM_API edicom::HRESULT CoCreateInstance(edicom::REFCLSID rclsid, edicom::IUnknown* pUnkOuter,
                                            edicom::DWORD dwClsContext, edicom::REFIID riid, void** ppv);
EDICOM_API edicom::HRESULT CoGetClassObject(edicom::REFCLSID rclsid, edicom::DWORD dwClsContext, void* pvReserved,
                                            edicom::REFIID riid, void** ppv);
EDICOM_API edicom::HRESULT CLSIDFromProgID(edicom::LPCOLESTR lpszProgID, edicom::CLSID* pclsid);
EDICOM_API edicom::HRESULT CLSIDFromString(edicom::LPCOLESTR lpsz, edicom::CLSID* pclsid);
// Writes "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" and a NUL; returns the characters written
// including the NUL, or 0 when cchMax is below 39.
EDICOM_API int StringFromGUID2(edicom::REFIID rguid, edicom::OLECHAR* lpsz, int cchMax);

// Per-thread error information, set by a failing member and read (and cleared) by its caller.
EDICOM_API void SetErrorInfoText(edicom::LPCOLESTR description, edicom::LPCOLESTR source);
EDICOM_API void ClearErrorInfo();
// S_OK and two new strings when error information is pending (then cleared), else S_FALSE.
EDICOM_API edicom::HRESULT GetErrorInfoText(edicom::BSTR* description, edicom::BSTR* source);

// Registration helpers for servers. modulePath is the absolute path of the server library.
// The class registry of the current user is written unless the process runs as root.
EDICOM_API edicom::HRESULT EdiRegisterServer(const char* modulePath, const edicom::ClassRegistration* classes,
                                             int count, const edicom::TypeLibRegistration* typeLib);
EDICOM_API edicom::HRESULT EdiUnregisterServer(const edicom::ClassRegistration* classes, int count,
                                               const edicom::TypeLibRegistration* typeLib);
// Path of the in-process server registered for a class, or an empty string; the buffer
// receives UTF-8. Returns the length of the path.
EDICOM_API int EdiInprocServerPath(edicom::REFCLSID rclsid, char* buffer, int size);

// Host services shared by every module of the process.
// The engine's modal error box: the host installs a handler (the desktop program shows a real
// box); without one the text goes to standard error. The call returns when the box is closed.
EDICOM_API void EdiSetErrorBoxHandler(void (*handler)(const char* utf8Text, void* context), void* context);
EDICOM_API void EdiShowErrorBox(const char* utf8Text);
// Whether trace lines may also go to standard output (a console host such as verimek-cli, whose
// standard output carries results, switches this off). On by default.
EDICOM_API void EdiSetConsoleTraceAllowed(int allowed);
EDICOM_API int EdiConsoleTraceAllowed();
// Writes text to standard error in one piece: one lock for every module of the process and one
// write call where the descriptor allows, so that diagnostic lines of several threads (or of
// processes sharing the descriptor) never tear. Returns 0, or -1 when the write failed.
EDICOM_API int EdiWriteStdErr(const char* text, std::size_t length);
