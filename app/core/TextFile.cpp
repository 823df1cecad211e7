#include "TextFile.h"

#include <edicom/EdiComCpp.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "TextCodec.h"

namespace verimek {

namespace {

struct TFileCloser {
  void operator()(std::FILE* f) const {
    if (f) std::fclose(f);
  }
};
using TFilePtr = std::unique_ptr<std::FILE, TFileCloser>;

std::string Reason(int err) { return std::strerror(err); }

std::u16string Utf8ToUtf16(std::string_view s) {
  std::u16string out;
  out.reserve(s.size());
  std::size_t i = 0;
  const std::size_t n = s.size();
  while (i < n) {
    const auto b = static_cast<unsigned char>(s[i]);
    char32_t cp;
    std::size_t len;
    if (b < 0x80) {
      cp = b;
      len = 1;
    } else if ((b & 0xE0) == 0xC0) {
      cp = b & 0x1Fu;
      len = 2;
    } else if ((b & 0xF0) == 0xE0) {
      cp = b & 0x0Fu;
      len = 3;
    } else {
      cp = b & 0x07u;
      len = 4;
    }
    // The text was checked as valid UTF-8; a cut sequence at the end still must not overrun.
    if (i + len > n) len = n - i;
    for (std::size_t k = 1; k < len; ++k) cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3Fu);
    i += len;
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

}  // namespace

std::string Utf16ToUtf8(std::u16string_view s) { return edicom::Utf16ToUtf8(s); }

TTextFile LoadTextFile(const std::string& fileName, std::size_t maxBytes) {
  TFilePtr f(std::fopen(fileName.c_str(), "rb"));
  if (!f) throw ETextFileError("Cannot open file \"" + fileName + "\" (" + Reason(errno) + ")");
  std::string bytes;
  char buf[1 << 16];
  for (;;) {
    const std::size_t got = std::fread(buf, 1, sizeof buf, f.get());
    if (got == 0) break;
    if (bytes.size() + got > maxBytes) {
      throw ETextFileError("File \"" + fileName + "\" is too large for a message sheet (more than " +
                           std::to_string(maxBytes >> 20) + " MB); validate it in a file sheet");
    }
    bytes.append(buf, got);
  }
  if (std::ferror(f.get())) throw ETextFileError("Cannot read file \"" + fileName + "\" (" + Reason(errno) + ")");

  TTextFile r;
  auto starts = [&](std::string_view mark) { return bytes.compare(0, mark.size(), mark) == 0; };
  if (starts("\xEF\xBB\xBF")) {
    r.Encoding = teUtf8;
    r.Bom = true;
    bytes.erase(0, 3);
  } else if (starts("\xFF\xFE") || starts("\xFE\xFF")) {
    r.Encoding = bytes[0] == '\xFF' ? teUtf16LE : teUtf16BE;
    r.Bom = true;
    const bool le = r.Encoding == teUtf16LE;
    r.Text.reserve(bytes.size() / 2);
    for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) {
      const auto lo = static_cast<unsigned char>(bytes[le ? i : i + 1]);
      const auto hi = static_cast<unsigned char>(bytes[le ? i + 1 : i]);
      const auto unit = static_cast<char16_t>(lo | (hi << 8));
      if (unit == 0) throw ETextFileError("File \"" + fileName + "\" is not a text file (it holds NUL characters)");
      r.Text.push_back(unit);
    }
    return r;
  } else {
    r.Encoding = common::IsValidUtf8(bytes) ? teUtf8 : teAnsi;
  }
  if (bytes.find('\0') != std::string::npos) {
    throw ETextFileError("File \"" + fileName + "\" is not a text file (it holds NUL characters)");
  }
  r.Text = r.Encoding == teUtf8 ? Utf8ToUtf16(bytes) : common::AnsiToUtf16(bytes);
  return r;
}

std::string EncodeText(std::u16string_view text, TTextEncoding& encoding, bool bom) {
  std::string out;
  if (encoding == teAnsi) {
    std::vector<common::Substitution> lost;
    common::Utf16ToAnsi(text.data(), text.size(), out, &lost);
    if (lost.empty()) return out;
    // Writing stand-ins would lose what the user typed.
    encoding = teUtf8;
    bom = false;
  }
  if (encoding == teUtf8) {
    out = bom ? "\xEF\xBB\xBF" : "";
    out += Utf16ToUtf8(text);
    return out;
  }
  const bool le = encoding == teUtf16LE;
  out.reserve(2 + text.size() * 2);
  if (bom) out += le ? "\xFF\xFE" : "\xFE\xFF";
  for (char16_t u : text) {
    const char lo = static_cast<char>(u & 0xFF);
    const char hi = static_cast<char>(u >> 8);
    out.push_back(le ? lo : hi);
    out.push_back(le ? hi : lo);
  }
  return out;
}

void SaveTextFile(const std::string& fileName, std::u16string_view text, TTextEncoding& encoding, bool bom) {
  TTextEncoding enc = encoding;
  const std::string bytes = EncodeText(text, enc, bom);
  TFilePtr f(std::fopen(fileName.c_str(), "wb"));
  if (!f) throw ETextFileError("Cannot write file \"" + fileName + "\" (" + Reason(errno) + ")");
  if (std::fwrite(bytes.data(), 1, bytes.size(), f.get()) != bytes.size()) {
    throw ETextFileError("Cannot write file \"" + fileName + "\" (" + Reason(errno) + ")");
  }
  if (std::fclose(f.release()) != 0) {
    throw ETextFileError("Cannot write file \"" + fileName + "\" (" + Reason(errno) + ")");
  }
  encoding = enc;
}

}  // namespace verimek
