// Single-byte code page conversions.
#include "TextCodec.h"

#include <edicom/EdiComCpp.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace common {

// 0x80..0x9F of Windows-1252; the five unassigned bytes map to the C1 controls as Windows does.
static const char16_t kCp1252High[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                         0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                         0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                         0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

static bool UseLatin1() {
  static const bool latin1 = [] {
    const char* e = std::getenv("EDI_CODEPAGE");
    return e && (strcasecmp(e, "ISO-8859-1") == 0 || strcasecmp(e, "latin1") == 0 || strcasecmp(e, "28591") == 0);
  }();
  return latin1;
}

const char* AnsiCodePageName() { return UseLatin1() ? "iso-8859-1" : "windows-1252"; }

std::string CodePointName(char32_t c) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "U+%04X", static_cast<unsigned>(c));
  return buf;
}

static inline char ToAnsiChar(char16_t c, bool latin1) {
  if (c < 0x80 || (c >= 0xA0 && c < 0x100)) return static_cast<char>(c);
  if (latin1) return c < 0x100 ? static_cast<char>(c) : kAnsiSubstitute;
  for (int i = 0; i < 32; ++i)
    if (kCp1252High[i] == c) return static_cast<char>(0x80 + i);
  return kAnsiSubstitute;
}

void Utf16ToAnsi(const char16_t* s, std::size_t n, std::string& out, std::vector<Substitution>* substituted) {
  out.resize(n);
  bool latin1 = UseLatin1();
  std::size_t o = 0;
  for (std::size_t i = 0; i < n; ++i) {
    char16_t c = s[i];
    if (c < 0x80) {
      out[o++] = static_cast<char>(c);
      continue;
    }
    // A surrogate pair is one character: one stand-in.
    char32_t cp = c;
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < n && s[i + 1] >= 0xDC00 && s[i + 1] < 0xE000) {
      cp = 0x10000 + ((static_cast<char32_t>(c) - 0xD800) << 10) + (static_cast<char32_t>(s[i + 1]) - 0xDC00);
      ++i;
    }
    char a = cp > 0xFFFF ? kAnsiSubstitute : ToAnsiChar(c, latin1);
    if (a == kAnsiSubstitute && substituted) substituted->push_back({o, cp});
    out[o++] = a;
  }
  out.resize(o);
}

std::string Utf16ToAnsi(std::u16string_view s) {
  std::string out;
  Utf16ToAnsi(s.data(), s.size(), out);
  return out;
}

void AnsiToUtf16(const char* s, std::size_t n, std::u16string& out) {
  out.resize(n);
  bool latin1 = UseLatin1();
  for (std::size_t i = 0; i < n; ++i) {
    unsigned char b = static_cast<unsigned char>(s[i]);
    out[i] = (b >= 0x80 && b < 0xA0 && !latin1) ? kCp1252High[b - 0x80] : static_cast<char16_t>(b);
  }
}

std::u16string AnsiToUtf16(std::string_view s) {
  std::u16string out;
  AnsiToUtf16(s.data(), s.size(), out);
  return out;
}

std::string AnsiToUtf8(std::string_view s) {
  // ASCII is the same in every code page we read and in UTF-8: most values are.
  for (char c : s)
    if (static_cast<unsigned char>(c) >= 0x80) return edicom::Utf16ToUtf8(AnsiToUtf16(s));
  return std::string(s);
}

bool IsValidUtf8(std::string_view s) {
  for (std::size_t i = 0; i < s.size();) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    int n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (n == 0 || i + n > s.size()) return false;
    for (int k = 1; k < n; ++k)
      if ((static_cast<unsigned char>(s[i + k]) >> 6) != 2) return false;
    if (n == 2 && c < 0xC2) return false;  // overlong
    i += n;
  }
  return true;
}

std::string Utf8ToAnsi(std::string_view s) {
  if (IsValidUtf8(s)) return Utf16ToAnsi(edicom::Utf8ToUtf16(s));
  return std::string(s);
}

// Widens the leading ASCII run of s into out; returns its length. Eight bytes are tested at a
// time and widened in a loop the compiler vectorises.
static std::size_t WidenAscii(const char* s, std::size_t n, char16_t* out) {
  std::size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    std::uint64_t word;
    std::memcpy(&word, s + i, 8);
    if (word & 0x8080808080808080ull) break;
    for (std::size_t k = 0; k < 8; ++k) out[i + k] = static_cast<char16_t>(s[i + k]);
  }
  while (i < n && static_cast<unsigned char>(s[i]) < 0x80) {
    out[i] = static_cast<char16_t>(s[i]);
    ++i;
  }
  return i;
}

// UTF-8 from s to out as edicom::Utf8ToUtf16 decodes it, refusing what IsValidUtf8 refuses;
// npos then, with out partly written.
static std::size_t DecodeUtf8(const unsigned char* s, std::size_t n, char16_t* out) {
  std::size_t o = 0;
  for (std::size_t i = 0; i < n;) {
    const unsigned char c = s[i];
    if (c < 0x80) {
      std::size_t run = WidenAscii(reinterpret_cast<const char*>(s) + i, n - i, out + o);
      i += run, o += run;
      continue;
    }
    int len;
    char32_t cp;
    if ((c >> 5) == 6) {
      len = 2, cp = c & 0x1F;
    } else if ((c >> 4) == 14) {
      len = 3, cp = c & 0x0F;
    } else if ((c >> 3) == 30) {
      len = 4, cp = c & 0x07;
    } else {
      return std::string_view::npos;
    }
    if (i + static_cast<std::size_t>(len) > n || (len == 2 && c < 0xC2)) return std::string_view::npos;
    for (int k = 1; k < len; ++k) {
      const unsigned char cc = s[i + static_cast<std::size_t>(k)];
      if ((cc >> 6) != 2) return std::string_view::npos;
      cp = (cp << 6) | (cc & 0x3F);
    }
    i += static_cast<std::size_t>(len);
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out[o++] = static_cast<char16_t>(0xD800 + (cp >> 10));
      out[o++] = static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
      out[o++] = static_cast<char16_t>(cp);
    }
  }
  return o;
}

std::size_t FileTextToUtf16(std::string_view bytes, char16_t* out) {
  const std::size_t ascii = WidenAscii(bytes.data(), bytes.size(), out);
  if (ascii == bytes.size()) return ascii;
  // The ASCII run reads the same either way; only the rest is decoded again as code page.
  const auto* rest = reinterpret_cast<const unsigned char*>(bytes.data()) + ascii;
  const std::size_t n = bytes.size() - ascii;
  const std::size_t units = DecodeUtf8(rest, n, out + ascii);
  if (units != std::string_view::npos) return ascii + units;
  const bool latin1 = UseLatin1();
  for (std::size_t i = 0; i < n; ++i) {
    const unsigned char b = rest[i];
    out[ascii + i] = (b >= 0x80 && b < 0xA0 && !latin1) ? kCp1252High[b - 0x80] : static_cast<char16_t>(b);
  }
  return bytes.size();
}

}  // namespace common
