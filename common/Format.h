// Fills the design's printf-style templates (%s, %d, %x, %.4d, %%) from typed arguments, once:
// text inserted for %s is never formatted again, so a "%" inside an argument stays as it is.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace common {

using FormatArg = std::variant<std::string, std::int64_t, double>;

// Placeholders take the arguments in order: %s a text (a number is written in decimal),
// %d/%u/%x an integer (a text that reads as an integer is accepted), %f/%g a float.
// Missing arguments leave the placeholder empty; extra arguments are ignored.
std::string FormatText(std::string_view tmpl, const std::vector<FormatArg>& args);

// The text with each control character (below 0x20, and 0x7F) written as "\xHH": a value quoted
// in a problem text must neither end it early (NUL) nor break its line. Every other byte,
// letters of the code page and UTF-8 sequences included, stays as it is.
std::string EscapeControls(std::string_view s);

inline FormatArg ToFormatArg(const std::string& s) { return s; }
inline FormatArg ToFormatArg(std::string_view s) { return std::string(s); }
inline FormatArg ToFormatArg(const char* s) { return std::string(s ? s : ""); }
inline FormatArg ToFormatArg(int v) { return static_cast<std::int64_t>(v); }
inline FormatArg ToFormatArg(long v) { return static_cast<std::int64_t>(v); }
inline FormatArg ToFormatArg(long long v) { return static_cast<std::int64_t>(v); }
inline FormatArg ToFormatArg(unsigned v) { return static_cast<std::int64_t>(v); }
inline FormatArg ToFormatArg(unsigned long v) { return static_cast<std::int64_t>(v); }
inline FormatArg ToFormatArg(double v) { return v; }
inline FormatArg ToFormatArg(const FormatArg& v) { return v; }

template <class... A>
std::string Fmt(std::string_view tmpl, A&&... a) {
  std::vector<FormatArg> args;
  args.reserve(sizeof...(A));
  (args.push_back(ToFormatArg(std::forward<A>(a))), ...);
  return FormatText(tmpl, args);
}

}  // namespace common
