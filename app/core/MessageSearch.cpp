#include "MessageSearch.h"

#include <algorithm>

#include "Settings.h"

namespace verimek {

TSearchOptions LoadSearchOptions(TSettings& settings) {
  TSearchOptions o;
  o.Backwards = settings.SearchBackwards();
  o.CaseSensitive = settings.SearchCaseSensitive();
  o.FromCaret = settings.SearchFromCaret();
  o.SelectionOnly = settings.SearchSelectionOnly();
  o.WholeWords = settings.SearchWholeWords();
  o.Regex = settings.SearchRegex();
  o.Text = settings.SearchText();
  for (std::string& h : SplitLines(settings.SearchTextHistory())) {
    if (!h.empty()) o.History.push_back(std::move(h));
  }
  return o;
}

void PushHistory(std::vector<std::string>& history, const std::string& text) {
  history.erase(std::remove(history.begin(), history.end(), text), history.end());
  history.insert(history.begin(), text);
}

void AcceptSearchOptions(TSettings& settings, TSearchOptions& options) {
  if (!options.Text.empty()) PushHistory(options.History, options.Text);
  if (options.History.size() > kSearchHistorySize) options.History.resize(kSearchHistorySize);
  settings.SetSearchBackwards(options.Backwards);
  settings.SetSearchCaseSensitive(options.CaseSensitive);
  settings.SetSearchFromCaret(options.FromCaret);
  settings.SetSearchSelectionOnly(options.SelectionOnly);
  settings.SetSearchWholeWords(options.WholeWords);
  settings.SetSearchRegex(options.Regex);
  settings.SetSearchText(options.Text);
  settings.SetSearchTextHistory(JoinLines(options.History));
}

}  // namespace verimek
