// Conversions between the one-line and the indented form of an interchange, and small text helpers.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace common {

using TStringList = std::vector<std::string>;

class TString {
 public:
  TString() = delete;

  /// One segment per line, group, message and block contents shifted by four spaces a level.
  /// The text is unformatted first, so an indented text gives the same result.
  static std::string FormatEdifact(std::string_view Edifact);
  /// The same text handed to Sink piece by piece; stops and returns false when Sink does.
  static bool FormatEdifact(std::string_view Edifact, const std::function<bool(std::string_view)>& Sink);
  /// The list's lines become the indented form's lines.
  static void FormatEdifact(TStringList& Edifact);
  /// Segments joined on one line, each ending with "'"; blanks between segments are dropped.
  static std::string UnformatEdifact(std::string_view Edifact);
  /// The list becomes one line: its lines trimmed and concatenated.
  static void UnformatEdifact(TStringList& Edifact);
  /// True when one of the first five lines of a list of two or more starts with a space.
  static bool IsEdifactFormated(const TStringList& Edifact);

  /// The text before the first sep; s loses it and the sep (all of s when sep is absent).
  /// With sep ' ' the rest of s is trimmed.
  static std::string Fetch(std::string& s, char sep);
  static std::string PadLeft(std::string_view Str, std::size_t Len, char Char);
  static std::string RemoveLeading(std::string_view Str, std::string_view Chars);
  static std::string RemoveTrailing(std::string_view Str, std::string_view Chars);
};

/// Equal but for the case of ASCII letters: how names of registry values, tables, columns and
/// script variables compare.
bool SameText(std::string_view a, std::string_view b);
/// Without the blanks and control characters at either end.
std::string Trim(std::string_view s);

}  // namespace common
