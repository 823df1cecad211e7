// The search dialog's values as the settings keep them, and the rules of writing them back.
#pragma once

#include <string>
#include <vector>

namespace verimek {

class TSettings;

struct TSearchOptions {
  bool Backwards = false;
  bool CaseSensitive = false;
  bool FromCaret = false;
  bool SelectionOnly = false;
  bool WholeWords = false;
  bool Regex = false;
  std::string Text;
  // Most recent first.
  std::vector<std::string> History;
};

constexpr std::size_t kSearchHistorySize = 10;

/// The stored options, text and history.
TSearchOptions LoadSearchOptions(TSettings& settings);

/// What OK writes: a non-empty text moves to the top of the history (inserted there, or moved
/// from where it was), then every option, the text and the first ten history entries (joined
/// with CR LF) are written. options.History is updated the same way.
void AcceptSearchOptions(TSettings& settings, TSearchOptions& options);

/// text at the top of history, once.
void PushHistory(std::vector<std::string>& history, const std::string& text);

}  // namespace verimek
