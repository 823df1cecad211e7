// libedicom.so: the process-wide part of the component runtime (strings, variants, apartments,
// error information, creation through the class registry, registration, host services).
#include <dlfcn.h>
#include <edicom/EdiCom.h>
#include <edicom/EdiComCpp.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <new>
#include <string>

#include "../../registry/Registry.h"

using namespace edicom;

namespace {

struct BstrHeader {
  std::uint32_t bytes;  // length in bytes, without the terminator
};

thread_local int tApartmentDepth = 0;
thread_local std::u16string tErrorDescription;
thread_local std::u16string tErrorSource;
thread_local bool tErrorPending = false;

std::mutex gLibMutex;
std::map<std::string, void*>& LoadedLibraries() {
  static auto* libs = new std::map<std::string, void*>();  // lives for the process
  return *libs;
}

std::mutex gHostMutex;
void (*gErrorBoxHandler)(const char*, void*) = nullptr;
void* gErrorBoxContext = nullptr;
std::atomic<int> gConsoleTrace{1};

int HexValue(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

std::string ReadDefault(common::TRootKey root, const std::string& key) {
  common::TRegistry reg(root);
  if (!reg.OpenKeyReadOnly(key)) return {};
  return reg.ReadString("");
}

}  // namespace

BSTR SysAllocStringLen(const OLECHAR* pch, unsigned cch) {
  void* mem = std::malloc(sizeof(BstrHeader) + (static_cast<std::size_t>(cch) + 1) * sizeof(OLECHAR));
  if (!mem) return nullptr;
  auto* h = static_cast<BstrHeader*>(mem);
  h->bytes = cch * static_cast<std::uint32_t>(sizeof(OLECHAR));
  BSTR s = reinterpret_cast<BSTR>(h + 1);
  if (pch)
    std::memcpy(s, pch, cch * sizeof(OLECHAR));
  else
    std::memset(s, 0, cch * sizeof(OLECHAR));
  s[cch] = 0;
  return s;
}

BSTR SysAllocString(LPCOLESTR psz) {
  if (!psz) return nullptr;
  unsigned n = 0;
  while (psz[n]) ++n;
  return SysAllocStringLen(psz, n);
}

unsigned SysStringLen(BSTR bstr) {
  if (!bstr) return 0;
  return reinterpret_cast<BstrHeader*>(bstr)[-1].bytes / sizeof(OLECHAR);
}

void SysFreeString(BSTR bstr) {
  if (bstr) std::free(reinterpret_cast<BstrHeader*>(bstr) - 1);
}

void VariantInit(VARIANT* v) {
  if (!v) return;
  std::memset(v, 0, sizeof(VARIANT));
  v->vt = VT_EMPTY;
}

HRESULT VariantClear(VARIANT* v) {
  if (!v) return E_INVALIDARG;
  switch (v->vt) {
    case VT_BSTR:
      SysFreeString(v->bstrVal);
      break;
    case VT_DISPATCH:
    case VT_UNKNOWN:
      if (v->punkVal) v->punkVal->Release();
      break;
    default:
      break;
  }
  VariantInit(v);
  return S_OK;
}

HRESULT VariantCopy(VARIANT* dest, const VARIANT* src) {
  if (!dest || !src) return E_INVALIDARG;
  if (dest == src) return S_OK;
  VARIANT tmp = *src;
  if (src->vt == VT_BSTR) {
    tmp.bstrVal = src->bstrVal ? SysAllocStringLen(src->bstrVal, SysStringLen(src->bstrVal)) : nullptr;
    if (src->bstrVal && !tmp.bstrVal) return E_OUTOFMEMORY;
  } else if ((src->vt == VT_DISPATCH || src->vt == VT_UNKNOWN) && src->punkVal) {
    src->punkVal->AddRef();
  }
  VariantClear(dest);
  *dest = tmp;
  return S_OK;
}

static HRESULT ToDouble(const VARIANT& s, double& d) {
  switch (s.vt) {
    case VT_EMPTY:
      d = 0;
      return S_OK;
    case VT_I2:
      d = s.iVal;
      return S_OK;
    case VT_I4:
      d = s.lVal;
      return S_OK;
    case VT_UI1:
      d = s.bVal;
      return S_OK;
    case VT_R8:
    case VT_DATE:
      d = s.dblVal;
      return S_OK;
    case VT_BOOL:
      d = s.boolVal ? -1 : 0;
      return S_OK;
    case VT_BSTR: {
      std::string t = Utf16ToUtf8(s.bstrVal ? std::u16string_view(s.bstrVal, SysStringLen(s.bstrVal)) : u"");
      std::size_t b = t.find_first_not_of(' ');
      if (b == std::string::npos) return DISP_E_TYPEMISMATCH;
      char* end = nullptr;
      d = std::strtod(t.c_str() + b, &end);
      while (*end == ' ') ++end;
      if (*end != 0) return DISP_E_TYPEMISMATCH;
      return S_OK;
    }
    default:
      return DISP_E_TYPEMISMATCH;
  }
}

HRESULT VariantChangeType(VARIANT* dest, const VARIANT* src, WORD, VARTYPE vt) {
  if (!dest || !src) return E_INVALIDARG;
  VARIANT s = *src;
  if (s.vt & VT_BYREF) {
    VARTYPE base = s.vt & ~VT_BYREF;
    if (!s.byref) return E_INVALIDARG;
    switch (base) {
      case VT_I4:
        s.vt = VT_I4;
        s.lVal = *s.plVal;
        break;
      case VT_BOOL:
        s.vt = VT_BOOL;
        s.boolVal = *s.pboolVal;
        break;
      case VT_R8:
        s.vt = VT_R8;
        s.dblVal = *s.pdblVal;
        break;
      case VT_BSTR:
        s.vt = VT_BSTR;
        s.bstrVal = *s.pbstrVal;
        break;
      case VT_VARIANT:
        s = *s.pvarVal;
        break;
      default:
        return DISP_E_TYPEMISMATCH;
    }
  }
  Variant out;
  if (s.vt == vt) {
    VariantCopy(&out, &s);
  } else {
    switch (vt) {
      case VT_EMPTY:
        break;
      case VT_I2:
      case VT_I4:
      case VT_UI1: {
        double d;
        if (HRESULT hr = ToDouble(s, d); FAILED(hr)) return hr;
        d = std::nearbyint(d);
        if (vt == VT_I4 && (d < -2147483648.0 || d > 2147483647.0)) return DISP_E_OVERFLOW;
        if (vt == VT_I2 && (d < -32768 || d > 32767)) return DISP_E_OVERFLOW;
        if (vt == VT_UI1 && (d < 0 || d > 255)) return DISP_E_OVERFLOW;
        out.vt = vt;
        if (vt == VT_I4)
          out.lVal = static_cast<std::int32_t>(d);
        else if (vt == VT_I2)
          out.iVal = static_cast<std::int16_t>(d);
        else
          out.bVal = static_cast<std::uint8_t>(d);
        break;
      }
      case VT_R8:
      case VT_DATE: {
        double d;
        if (HRESULT hr = ToDouble(s, d); FAILED(hr)) return hr;
        out.vt = vt;
        out.dblVal = d;
        break;
      }
      case VT_BOOL: {
        if (s.vt == VT_BSTR) {
          std::string t = Utf16ToUtf8(s.bstrVal ? std::u16string_view(s.bstrVal, SysStringLen(s.bstrVal)) : u"");
          for (char& c : t) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
          if (t == "true" || t == "false") {
            out.vt = VT_BOOL;
            out.boolVal = t == "true" ? VARIANT_TRUE : VARIANT_FALSE;
            break;
          }
        }
        double d;
        if (HRESULT hr = ToDouble(s, d); FAILED(hr)) return hr;
        out.vt = VT_BOOL;
        out.boolVal = d != 0 ? VARIANT_TRUE : VARIANT_FALSE;
        break;
      }
      case VT_BSTR: {
        std::string t;
        char buf[64];
        switch (s.vt) {
          case VT_EMPTY:
            break;
          case VT_I2:
            t = std::to_string(s.iVal);
            break;
          case VT_I4:
            t = std::to_string(s.lVal);
            break;
          case VT_UI1:
            t = std::to_string(s.bVal);
            break;
          case VT_R8:
          case VT_DATE:
            std::snprintf(buf, sizeof buf, "%.15g", s.dblVal);
            t = buf;
            break;
          case VT_BOOL:
            t = s.boolVal ? "True" : "False";
            break;
          default:
            return DISP_E_TYPEMISMATCH;
        }
        out.vt = VT_BSTR;
        out.bstrVal = SysAllocString(Utf8ToUtf16(t).c_str());
        break;
      }
      default:
        return DISP_E_TYPEMISMATCH;
    }
  }
  VariantClear(dest);
  *dest = out;
  VariantInit(&out);
  return S_OK;
}

HRESULT CoInitialize(void*) { return tApartmentDepth++ == 0 ? S_OK : S_FALSE; }
void CoUninitialize() {
  if (tApartmentDepth > 0) --tApartmentDepth;
}
int CoApartmentDepth() { return tApartmentDepth; }

int StringFromGUID2(REFIID g, OLECHAR* out, int cchMax) {
  if (!out || cchMax < 39) return 0;
  char buf[40];
  std::snprintf(buf, sizeof buf, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.Data1, g.Data2, g.Data3,
                g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
  for (int i = 0; i < 39; ++i) out[i] = static_cast<OLECHAR>(buf[i]);
  return 39;
}

HRESULT CLSIDFromString(LPCOLESTR s, CLSID* out) {
  if (!s || !out) return E_INVALIDARG;
  // {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}
  static const int groups[] = {8, 4, 4, 4, 12};
  int pos = 0;
  if (s[pos++] != u'{') return CO_E_CLASSSTRING;
  std::uint8_t bytes[16];
  int nb = 0;
  for (int g = 0; g < 5; ++g) {
    for (int i = 0; i < groups[g]; i += 2) {
      int hi = HexValue(s[pos]), lo = hi < 0 ? -1 : HexValue(s[pos + 1]);
      if (hi < 0 || lo < 0) return CO_E_CLASSSTRING;
      bytes[nb++] = static_cast<std::uint8_t>(hi * 16 + lo);
      pos += 2;
    }
    if (g < 4 && s[pos++] != u'-') return CO_E_CLASSSTRING;
  }
  if (s[pos++] != u'}' || s[pos] != 0) return CO_E_CLASSSTRING;
  out->Data1 = (std::uint32_t(bytes[0]) << 24) | (bytes[1] << 16) | (bytes[2] << 8) | bytes[3];
  out->Data2 = static_cast<std::uint16_t>((bytes[4] << 8) | bytes[5]);
  out->Data3 = static_cast<std::uint16_t>((bytes[6] << 8) | bytes[7]);
  std::memcpy(out->Data4, bytes + 8, 8);
  return S_OK;
}

HRESULT CLSIDFromProgID(LPCOLESTR progId, CLSID* out) {
  if (!progId || !out) return E_INVALIDARG;
  std::string id = Utf16ToUtf8(progId);
  try {
    std::string text = ReadDefault(common::HKEY_CLASSES_ROOT, id + "\\CLSID");
    if (text.empty()) return CO_E_CLASSSTRING;
    std::u16string w = Utf8ToUtf16(text);
    return FAILED(CLSIDFromString(w.c_str(), out)) ? CO_E_CLASSSTRING : S_OK;
  } catch (...) {
    return CO_E_CLASSSTRING;
  }
}

int EdiInprocServerPath(REFCLSID clsid, char* buffer, int size) {
  std::string path;
  try {
    path = ReadDefault(common::HKEY_CLASSES_ROOT, "CLSID\\" + GuidToString(clsid) + "\\InprocServer32");
  } catch (...) {
  }
  if (buffer && size > 0) {
    std::snprintf(buffer, static_cast<std::size_t>(size), "%s", path.c_str());
  }
  return static_cast<int>(path.size());
}

HRESULT CoGetClassObject(REFCLSID clsid, DWORD, void*, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  char path[4096];
  int n = EdiInprocServerPath(clsid, path, sizeof path);
  if (n <= 0 || n >= static_cast<int>(sizeof path)) return REGDB_E_CLASSNOTREG;
  void* lib = nullptr;
  {
    std::lock_guard<std::mutex> lock(gLibMutex);
    auto& libs = LoadedLibraries();
    auto it = libs.find(path);
    if (it != libs.end()) {
      lib = it->second;
    } else {
      // Loaded once per process and kept: handles and singletons may outlive any one object.
      lib = dlopen(path, RTLD_NOW | RTLD_LOCAL);
      if (!lib) {
        SetErrorInfoText(Utf8ToUtf16(dlerror()).c_str(), u"edicom");
        return CO_E_DLLNOTFOUND;
      }
      libs[path] = lib;
    }
  }
  using GetClassObjectFn = HRESULT (*)(REFCLSID, REFIID, void**);
  auto fn = reinterpret_cast<GetClassObjectFn>(dlsym(lib, "DllGetClassObject"));
  if (!fn) return CO_E_ERRORINDLL;
  return fn(clsid, riid, ppv);
}

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD ctx, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  IClassFactory* factory = nullptr;
  HRESULT hr = CoGetClassObject(clsid, ctx, nullptr, IID_IClassFactory, reinterpret_cast<void**>(&factory));
  if (FAILED(hr)) return hr;
  hr = factory->CreateInstance(outer, riid, ppv);
  factory->Release();
  return hr;
}

void SetErrorInfoText(LPCOLESTR description, LPCOLESTR source) {
  tErrorDescription = description ? description : u"";
  tErrorSource = source ? source : u"";
  tErrorPending = true;
}

void ClearErrorInfo() {
  tErrorPending = false;
  tErrorDescription.clear();
  tErrorSource.clear();
}

HRESULT GetErrorInfoText(BSTR* description, BSTR* source) {
  if (description) *description = nullptr;
  if (source) *source = nullptr;
  if (!tErrorPending) return S_FALSE;
  if (description)
    *description = SysAllocStringLen(tErrorDescription.data(), static_cast<unsigned>(tErrorDescription.size()));
  if (source) *source = SysAllocStringLen(tErrorSource.data(), static_cast<unsigned>(tErrorSource.size()));
  ClearErrorInfo();
  return S_OK;
}

HRESULT EdiRegisterServer(const char* modulePath, const ClassRegistration* classes, int count,
                          const TypeLibRegistration* typeLib) {
  if (!modulePath || !classes) return E_INVALIDARG;
  try {
    common::TRegistry reg(common::HKEY_CLASSES_ROOT);
    for (int i = 0; i < count; ++i) {
      const ClassRegistration& c = classes[i];
      std::string clsid = GuidToString(*c.clsid);
      std::string base = "CLSID\\" + clsid;
      if (!reg.OpenKey(base, true)) return SELFREG_E_CLASS;
      reg.WriteString("", c.description);
      if (!reg.OpenKey(base + "\\InprocServer32", true)) return SELFREG_E_CLASS;
      reg.WriteString("", modulePath);
      reg.WriteString("ThreadingModel", "Apartment");
      if (c.progId) {
        reg.OpenKey(base + "\\ProgID", true);
        reg.WriteString("", c.progId);
        reg.OpenKey(std::string(c.progId), true);
        reg.WriteString("", c.description);
        reg.OpenKey(std::string(c.progId) + "\\CLSID", true);
        reg.WriteString("", clsid);
      }
      if (c.versionIndependentId) {
        reg.OpenKey(base + "\\VersionIndependentProgID", true);
        reg.WriteString("", c.versionIndependentId);
        reg.OpenKey(std::string(c.versionIndependentId), true);
        reg.WriteString("", c.description);
        reg.OpenKey(std::string(c.versionIndependentId) + "\\CLSID", true);
        reg.WriteString("", clsid);
        if (c.progId) {
          reg.OpenKey(std::string(c.versionIndependentId) + "\\CurVer", true);
          reg.WriteString("", c.progId);
        }
      }
      if (typeLib) {
        reg.OpenKey(base + "\\TypeLib", true);
        reg.WriteString("", GuidToString(*typeLib->libid));
      }
    }
    if (typeLib) {
      std::string base = "TypeLib\\" + GuidToString(*typeLib->libid) + "\\" + typeLib->version;
      reg.OpenKey(base, true);
      reg.WriteString("", typeLib->helpString);
      reg.WriteString("Name", typeLib->name);
      reg.OpenKey(base + "\\0\\linux64", true);
      reg.WriteString("", modulePath);
    }
    reg.CloseKey();
    return S_OK;
  } catch (const std::exception& e) {
    SetErrorInfoText(Utf8ToUtf16(e.what()).c_str(), u"edicom");
    return SELFREG_E_CLASS;
  }
}

HRESULT EdiUnregisterServer(const ClassRegistration* classes, int count, const TypeLibRegistration* typeLib) {
  if (!classes) return E_INVALIDARG;
  try {
    common::TRegistry reg(common::HKEY_CLASSES_ROOT);
    for (int i = 0; i < count; ++i) {
      reg.DeleteKey("CLSID\\" + GuidToString(*classes[i].clsid));
      if (classes[i].progId) reg.DeleteKey(classes[i].progId);
      if (classes[i].versionIndependentId) reg.DeleteKey(classes[i].versionIndependentId);
    }
    if (typeLib) reg.DeleteKey("TypeLib\\" + GuidToString(*typeLib->libid));
    return S_OK;
  } catch (const std::exception& e) {
    SetErrorInfoText(Utf8ToUtf16(e.what()).c_str(), u"edicom");
    return SELFREG_E_CLASS;
  }
}

void EdiSetErrorBoxHandler(void (*handler)(const char*, void*), void* context) {
  std::lock_guard<std::mutex> lock(gHostMutex);
  gErrorBoxHandler = handler;
  gErrorBoxContext = context;
}

void EdiShowErrorBox(const char* text) {
  void (*handler)(const char*, void*);
  void* ctx;
  {
    std::lock_guard<std::mutex> lock(gHostMutex);
    handler = gErrorBoxHandler;
    ctx = gErrorBoxContext;
  }
  if (handler)
    handler(text ? text : "", ctx);
  else {
    const std::string line = std::string("Error: ") + (text ? text : "") + "\n";
    EdiWriteStdErr(line.data(), line.size());
  }
}

int EdiWriteStdErr(const char* text, std::size_t length) {
  static std::mutex* lock = new std::mutex();  // lives for the process: late destructors write too
  std::lock_guard<std::mutex> guard(*lock);
  // Anything buffered in the stream goes first, so that lines keep their order.
  std::fflush(stderr);
  while (length > 0) {
    ssize_t n = ::write(STDERR_FILENO, text, length);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return -1;
    text += n;
    length -= static_cast<std::size_t>(n);
  }
  return 0;
}

void EdiSetConsoleTraceAllowed(int allowed) { gConsoleTrace = allowed ? 1 : 0; }
int EdiConsoleTraceAllowed() { return gConsoleTrace.load(); }
