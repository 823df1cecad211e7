// 8-bit text: the process's single-byte code page (Windows-1252 unless EDI_CODEPAGE says
// "ISO-8859-1"/"latin1"), and conversion to and from UTF-16 and UTF-8.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace common {

// Stands in for a character the code page lacks. It is neither a separator ("+", ":", "'") nor
// the release character "?", so a text with stand-ins parses as the original would: "?" there
// released the character after it and changed the segments that followed.
constexpr char kAnsiSubstitute = '\x1A';

// One character that became kAnsiSubstitute: its byte offset in the 8-bit text and what it was.
struct Substitution {
  std::size_t offset;
  char32_t codePoint;
};

// UTF-16 to the code page; a character the code page lacks (a surrogate pair is one character)
// becomes kAnsiSubstitute and, when substituted is given, is appended to it.
std::string Utf16ToAnsi(std::u16string_view s);
void Utf16ToAnsi(const char16_t* s, std::size_t n, std::string& out, std::vector<Substitution>* substituted = nullptr);
std::u16string AnsiToUtf16(std::string_view s);
void AnsiToUtf16(const char* s, std::size_t n, std::u16string& out);
std::string AnsiToUtf8(std::string_view s);
// UTF-8 to the code page (kAnsiSubstitute for what it lacks; invalid UTF-8 bytes are taken as
// code-page bytes).
std::string Utf8ToAnsi(std::string_view s);
bool IsValidUtf8(std::string_view s);
// A line of a file as UTF-16, in one pass: UTF-8 when the whole line is (as IsValidUtf8 has it),
// else the code page. out holds at least bytes.size() units; returns the units written.
std::size_t FileTextToUtf16(std::string_view bytes, char16_t* out);
// Name of the code page in use ("windows-1252" or "iso-8859-1").
const char* AnsiCodePageName();
// The code point as "U+XXXX" (at least four hex digits), the way a user looks it up.
std::string CodePointName(char32_t c);

}  // namespace common
