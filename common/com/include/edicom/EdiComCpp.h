// C++ helpers over the component runtime: smart pointers, string and variant holders,
// UTF-16 conversion and GUID text. Header-only; clients and servers share it.
#pragma once

#include <edicom/EdiCom.h>

#include <string>
#include <string_view>
#include <utility>

namespace edicom {

// Intrusive smart pointer: the only place that calls AddRef and Release.
template <class T>
class ComPtr {
 public:
  ComPtr() = default;
  ComPtr(std::nullptr_t) {}
  // Takes a new reference on p.
  explicit ComPtr(T* p) : FPtr(p) {
    if (FPtr) FPtr->AddRef();
  }
  ComPtr(const ComPtr& o) : FPtr(o.FPtr) {
    if (FPtr) FPtr->AddRef();
  }
  ComPtr(ComPtr&& o) noexcept : FPtr(std::exchange(o.FPtr, nullptr)) {}
  ~ComPtr() { Reset(); }
  ComPtr& operator=(ComPtr o) noexcept {
    std::swap(FPtr, o.FPtr);
    return *this;
  }
  // Adopts a reference the caller already owns (the "owned by the caller" results).
  static ComPtr Attach(T* p) {
    ComPtr r;
    r.FPtr = p;
    return r;
  }
  T* Detach() { return std::exchange(FPtr, nullptr); }
  void Reset() {
    if (FPtr) std::exchange(FPtr, nullptr)->Release();
  }
  T* Get() const { return FPtr; }
  T* operator->() const { return FPtr; }
  explicit operator bool() const { return FPtr != nullptr; }
  // For out parameters: releases the current object first.
  T** Put() {
    Reset();
    return &FPtr;
  }
  void** PutVoid() { return reinterpret_cast<void**>(Put()); }
  template <class U>
  HRESULT As(ComPtr<U>& out, REFIID iid) const {
    if (!FPtr) return E_POINTER;
    return FPtr->QueryInterface(iid, out.PutVoid());
  }

 private:
  T* FPtr = nullptr;
};

// UTF-8 <-> UTF-16. Invalid UTF-8 bytes become U+FFFD.
inline std::u16string Utf8ToUtf16(std::string_view s) {
  // Message texts are ASCII nearly always: widen the ASCII run in one loop the compiler vectorises.
  std::size_t ascii = 0;
  while (ascii < s.size() && static_cast<unsigned char>(s[ascii]) < 0x80) ++ascii;
  std::u16string out(ascii, u'\0');
  for (std::size_t k = 0; k < ascii; ++k) out[k] = static_cast<char16_t>(s[k]);
  if (ascii == s.size()) return out;
  out.reserve(s.size());
  for (std::size_t i = ascii; i < s.size();) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    char32_t cp;
    int n;
    if (c < 0x80) {
      cp = c;
      n = 1;
    } else if ((c >> 5) == 6) {
      cp = c & 0x1F;
      n = 2;
    } else if ((c >> 4) == 14) {
      cp = c & 0x0F;
      n = 3;
    } else if ((c >> 3) == 30) {
      cp = c & 0x07;
      n = 4;
    } else {
      out.push_back(u'\xFFFD');
      ++i;
      continue;
    }
    if (i + n > s.size()) {
      out.push_back(u'\xFFFD');
      ++i;
      continue;
    }
    bool ok = true;
    for (int k = 1; k < n; ++k) {
      unsigned char cc = static_cast<unsigned char>(s[i + k]);
      if ((cc >> 6) != 2) {
        ok = false;
        break;
      }
      cp = (cp << 6) | (cc & 0x3F);
    }
    if (!ok) {
      out.push_back(u'\xFFFD');
      ++i;
      continue;
    }
    i += n;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
  }
  return out;
}

inline std::string Utf16ToUtf8(std::u16string_view s) {
  std::string out;
  out.reserve(s.size());
  // Mostly ASCII text: that run is copied before the general case.
  std::size_t ascii = 0;
  while (ascii < s.size() && s[ascii] < 0x80) ++ascii;
  out.resize(ascii);
  for (std::size_t i = 0; i < ascii; ++i) out[i] = static_cast<char>(s[i]);
  for (std::size_t i = ascii; i < s.size(); ++i) {
    char32_t cp = s[i];
    if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] < 0xE000) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (s[i + 1] - 0xDC00);
      ++i;
    }
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
  return out;
}

// Owning holder of a BSTR.
class BStr {
 public:
  BStr() = default;
  explicit BStr(std::u16string_view s) : FStr(SysAllocStringLen(s.data(), static_cast<unsigned>(s.size()))) {}
  explicit BStr(std::string_view utf8) : BStr(std::u16string_view(Utf8ToUtf16(utf8))) {}
  explicit BStr(const char* utf8) : BStr(std::string_view(utf8)) {}
  BStr(const BStr& o) : FStr(o.FStr ? SysAllocStringLen(o.FStr, SysStringLen(o.FStr)) : nullptr) {}
  BStr(BStr&& o) noexcept : FStr(std::exchange(o.FStr, nullptr)) {}
  BStr& operator=(BStr o) noexcept {
    std::swap(FStr, o.FStr);
    return *this;
  }
  ~BStr() { SysFreeString(FStr); }
  static BStr Attach(BSTR s) {
    BStr r;
    r.FStr = s;
    return r;
  }
  BSTR Detach() { return std::exchange(FStr, nullptr); }
  BSTR Get() const { return FStr; }
  BSTR* Put() {
    SysFreeString(std::exchange(FStr, nullptr));
    return &FStr;
  }
  unsigned Length() const { return SysStringLen(FStr); }
  std::u16string_view View() const {
    return FStr ? std::u16string_view(FStr, SysStringLen(FStr)) : std::u16string_view();
  }
  std::string Utf8() const { return Utf16ToUtf8(View()); }

 private:
  BSTR FStr = nullptr;
};

// Owning holder of a VARIANT.
class Variant : public VARIANT {
 public:
  Variant() { VariantInit(this); }
  Variant(const Variant& o) {
    VariantInit(this);
    VariantCopy(this, &o);
  }
  Variant& operator=(const Variant& o) {
    if (this != &o) VariantCopy(this, &o);
    return *this;
  }
  ~Variant() { VariantClear(this); }
  static Variant Int(std::int32_t v) {
    Variant r;
    r.vt = VT_I4;
    r.lVal = v;
    return r;
  }
  static Variant Bool(bool b) {
    Variant r;
    r.vt = VT_BOOL;
    r.boolVal = b ? VARIANT_TRUE : VARIANT_FALSE;
    return r;
  }
  static Variant Str(std::u16string_view s) {
    Variant r;
    r.vt = VT_BSTR;
    r.bstrVal = SysAllocStringLen(s.data(), static_cast<unsigned>(s.size()));
    return r;
  }
  static Variant Null() {
    Variant r;
    r.vt = VT_NULL;
    return r;
  }
  void Clear() { VariantClear(this); }
};

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}"
inline std::string GuidToString(const GUID& g) {
  OLECHAR buf[40];
  StringFromGUID2(g, buf, 40);
  return Utf16ToUtf8(std::u16string_view(buf, 38));
}
inline bool GuidFromString(std::string_view text, GUID& out) {
  std::u16string w = Utf8ToUtf16(text);
  return SUCCEEDED(CLSIDFromString(w.c_str(), &out));
}

// Error information left by the last failing call on this thread, as UTF-8; false when there
// is none.
inline bool TakeErrorInfo(std::string& description, std::string& source) {
  BSTR d = nullptr, s = nullptr;
  bool found = GetErrorInfoText(&d, &s) == S_OK;
  auto text = [](BSTR b) { return Utf16ToUtf8(b ? std::u16string_view(b, SysStringLen(b)) : u""); };
  description = found ? text(d) : std::string();
  source = found ? text(s) : std::string();
  SysFreeString(d);
  SysFreeString(s);
  return found;
}

// The description alone.
inline std::string TakeErrorDescription() {
  std::string description, source;
  TakeErrorInfo(description, source);
  return description;
}

// Creates an object by class identity and asks for interface T.
template <class T>
HRESULT CreateInstance(REFCLSID clsid, REFIID iid, ComPtr<T>& out) {
  return CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid, out.PutVoid());
}

// Apartment scope for one thread's job.
class ScopedApartment {
 public:
  ScopedApartment() { CoInitialize(nullptr); }
  ~ScopedApartment() { CoUninitialize(); }
  ScopedApartment(const ScopedApartment&) = delete;
  ScopedApartment& operator=(const ScopedApartment&) = delete;
};

}  // namespace edicom
