// Helpers for writing component servers: reference-counted dual-interface objects whose
// IDispatch is driven by one table per class, class factories, module lock counting and
// the boundary guard that turns exceptions into result codes and error information.
#pragma once

#include <edicom/EdiComCpp.h>

#include <atomic>
#include <exception>
#include <new>
#include <stdexcept>
#include <string>

namespace edicom {

// Objects and locks alive in this server module (each shared library has its own copy).
inline std::atomic<long> gModuleLocks{0};

// A failure that carries its own result code to the component boundary.
class ComError : public std::runtime_error {
 public:
  ComError(HRESULT hr, const std::string& message) : std::runtime_error(message), FHr(hr) {}
  HRESULT Code() const { return FHr; }

 private:
  HRESULT FHr;
};

// Runs f (returning HRESULT) so that nothing escapes: a ComError gives its own code, any other
// exception E_UNEXPECTED (E_OUTOFMEMORY for bad_alloc), each with error information whose
// description is the exception's message (UTF-8) and whose source is progId.
template <class F>
HRESULT GuardCall(const char16_t* progId, F&& f) noexcept {
  try {
    return f();
  } catch (const ComError& e) {
    SetErrorInfoText(Utf8ToUtf16(e.what()).c_str(), progId);
    return e.Code();
  } catch (const std::bad_alloc&) {
    SetErrorInfoText(u"Out of memory", progId);
    return E_OUTOFMEMORY;
  } catch (const std::exception& e) {
    SetErrorInfoText(Utf8ToUtf16(e.what()).c_str(), progId);
    return E_UNEXPECTED;
  } catch (...) {
    SetErrorInfoText(u"Unknown failure", progId);
    return E_UNEXPECTED;
  }
}

// One member of a dispatch table. Arguments reach `call` left to right, converted to
// argTypes (VT_VARIANT: as given; VT_BSTR|VT_BYREF: a reference to the caller's string).
struct DispMember {
  const char16_t* name;
  DISPID id;
  WORD kind;  // DISPATCH_METHOD, DISPATCH_PROPERTYGET or DISPATCH_PROPERTYPUT
  unsigned argc;
  VARTYPE argTypes[6];
  HRESULT (*call)(void* self, VARIANT* args, VARIANT* result);
};

inline bool NameEqualsNoCase(const char16_t* a, const char16_t* b) {
  for (;; ++a, ++b) {
    char16_t x = *a, y = *b;
    if (x >= u'a' && x <= u'z') x = static_cast<char16_t>(x - 32);
    if (y >= u'a' && y <= u'z') y = static_cast<char16_t>(y - 32);
    if (x != y) return false;
    if (x == 0) return true;
  }
}

// GetIDsOfNames over a table: names compare ignoring case; only the member name is resolved.
inline HRESULT TableGetIDsOfNames(const DispMember* table, std::size_t n, LPCOLESTR* names, unsigned cNames,
                                  DISPID* ids) {
  if (!names || !ids) return E_POINTER;
  HRESULT hr = S_OK;
  for (unsigned k = 0; k < cNames; ++k) {
    ids[k] = DISPID_UNKNOWN;
    if (k > 0) {
      hr = DISP_E_UNKNOWNNAME;
      continue;
    }
    for (std::size_t i = 0; i < n; ++i)
      if (names[k] && NameEqualsNoCase(table[i].name, names[k])) {
        ids[k] = table[i].id;
        break;
      }
    if (ids[k] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
  }
  return hr;
}

// Invoke over a table: finds the member by id and kind, checks the argument count,
// converts the arguments and calls the member.
inline HRESULT TableInvoke(void* self, const DispMember* table, std::size_t n, DISPID id, WORD flags,
                           DISPPARAMS* params, VARIANT* result, EXCEPINFO* excep, unsigned* argErr) {
  const DispMember* m = nullptr;
  for (std::size_t i = 0; i < n && !m; ++i) {
    if (table[i].id != id) continue;
    WORD k = table[i].kind;
    if ((k == DISPATCH_PROPERTYPUT && (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF))) ||
        (k == DISPATCH_PROPERTYGET && (flags & (DISPATCH_PROPERTYGET | DISPATCH_METHOD))) ||
        (k == DISPATCH_METHOD && (flags & DISPATCH_METHOD)))
      m = &table[i];
  }
  if (!m) return DISP_E_MEMBERNOTFOUND;
  unsigned cArgs = params ? params->cArgs : 0;
  if (cArgs != m->argc) return DISP_E_BADPARAMCOUNT;
  Variant args[6];
  for (unsigned i = 0; i < cArgs; ++i) {
    const VARIANT& src = params->rgvarg[cArgs - 1 - i];
    VARTYPE want = m->argTypes[i];
    if (want == (VT_BSTR | VT_BYREF)) {
      if (src.vt == (VT_BSTR | VT_BYREF)) {
        args[i].vt = VT_BSTR | VT_BYREF;
        args[i].pbstrVal = src.pbstrVal;
      } else if (src.vt == (VT_VARIANT | VT_BYREF) && src.pvarVal && src.pvarVal->vt == VT_BSTR) {
        args[i].vt = VT_BSTR | VT_BYREF;
        args[i].pbstrVal = &src.pvarVal->bstrVal;
      } else {
        if (argErr) *argErr = cArgs - 1 - i;
        return DISP_E_TYPEMISMATCH;
      }
      continue;
    }
    HRESULT hr = want == VT_VARIANT ? VariantCopy(&args[i], &src) : VariantChangeType(&args[i], &src, 0, want);
    if (FAILED(hr)) {
      if (argErr) *argErr = cArgs - 1 - i;
      return hr;
    }
  }
  Variant local;
  VARIANT* out = result ? result : &local;
  if (result) VariantInit(result);
  HRESULT hr = m->call(self, args, out);
  // By-reference slots point into the caller's memory: never let the holders free them.
  for (auto& a : args)
    if (a.vt & VT_BYREF) a.vt = VT_EMPTY;
  if (FAILED(hr) && excep) {
    BSTR d = nullptr, s = nullptr;
    if (GetErrorInfoText(&d, &s) == S_OK) {
      excep->wCode = 0;
      excep->bstrDescription = d;
      excep->bstrSource = s;
      excep->scode = hr;
      SetErrorInfoText(d, s);  // keep it readable through GetErrorInfoText as well
      return DISP_E_EXCEPTION;
    }
  }
  return hr;
}

// Reference counting and QueryInterface for an object that implements one dual interface
// `Iface` (derived from IDispatch) with id `iid`. Derived provides
//   static const DispMember* DispTable(std::size_t& count);
template <class Derived, class Iface>
class DispatchObject : public Iface {
 public:
  DispatchObject() { ++gModuleLocks; }
  virtual ~DispatchObject() { --gModuleLocks; }
  DispatchObject(const DispatchObject&) = delete;
  DispatchObject& operator=(const DispatchObject&) = delete;

  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IDispatch || riid == Derived::kInterfaceId) {
      *ppv = static_cast<Iface*>(this);
      this->AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return static_cast<ULONG>(++FRefCount); }
  ULONG Release() override {
    long n = --FRefCount;
    if (n == 0) delete static_cast<Derived*>(this);
    return static_cast<ULONG>(n);
  }
  HRESULT GetTypeInfoCount(unsigned* pctinfo) override {
    if (!pctinfo) return E_POINTER;
    *pctinfo = 0;
    return S_OK;
  }
  HRESULT GetTypeInfo(unsigned, LCID, void** pp) override {
    if (pp) *pp = nullptr;
    return E_NOTIMPL;
  }
  HRESULT GetIDsOfNames(REFIID, LPCOLESTR* names, unsigned cNames, LCID, DISPID* ids) override {
    std::size_t n = 0;
    const DispMember* t = Derived::DispTable(n);
    return TableGetIDsOfNames(t, n, names, cNames, ids);
  }
  HRESULT Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO* excep,
                 unsigned* argErr) override {
    std::size_t n = 0;
    const DispMember* t = Derived::DispTable(n);
    return TableInvoke(static_cast<Derived*>(this), t, n, id, flags, params, result, excep, argErr);
  }

 private:
  std::atomic<long> FRefCount{1};
};

// Class factory creating Derived objects with their default constructor.
template <class Derived>
class ClassFactory final : public IClassFactory {
 public:
  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IClassFactory) {
      *ppv = static_cast<IClassFactory*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return static_cast<ULONG>(++FRefCount); }
  ULONG Release() override {
    long n = --FRefCount;
    if (n == 0) delete this;
    return static_cast<ULONG>(n);
  }
  HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    Derived* obj = new (std::nothrow) Derived();
    if (!obj) return E_OUTOFMEMORY;
    HRESULT hr = obj->QueryInterface(riid, ppv);
    obj->Release();
    return hr;
  }
  HRESULT LockServer(int lock) override {
    if (lock)
      ++gModuleLocks;
    else
      --gModuleLocks;
    return S_OK;
  }

 private:
  std::atomic<long> FRefCount{1};
};

// Result helpers for dispatch thunks.
inline HRESULT RetI4(VARIANT* r, std::int32_t v) {
  r->vt = VT_I4;
  r->lVal = v;
  return S_OK;
}
inline HRESULT RetBool(VARIANT* r, VARIANT_BOOL v) {
  r->vt = VT_BOOL;
  r->boolVal = v;
  return S_OK;
}
inline HRESULT RetBstr(VARIANT* r, BSTR s) {
  r->vt = VT_BSTR;
  r->bstrVal = s;
  return S_OK;
}

}  // namespace edicom
