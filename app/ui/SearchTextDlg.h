// The "Search Text" dialog and the search it drives in an editor, shared by the sheets.
#pragma once

#include <QDialog>

#include "MessageSearch.h"

class QCheckBox;
class QComboBox;
class QRadioButton;
class QWidget;

namespace verimek::ui {

class TEdiEditor;

class TSearchTextDlg final : public QDialog {
  Q_OBJECT

 public:
  explicit TSearchTextDlg(QWidget* parent = nullptr);

  void SetOptions(const TSearchOptions& options);
  // The values as the user left them; History is the one given to SetOptions.
  TSearchOptions Options() const;

  QComboBox* cb_SearchText;
  QCheckBox* cbx_CaseSensitive;
  QCheckBox* cbx_WholeWords;
  QCheckBox* cbx_FromCaret;
  QCheckBox* cbx_SelectedOnly;
  QCheckBox* cbx_Regex;
  QRadioButton* rb_Forward;
  QRadioButton* rb_Backward;

 private:
  std::vector<std::string> FHistory;
};

// The search of one sheet: the dialog, then DoSearch with the stored settings.
class TEditorSearch {
 public:
  // Opens the dialog on the stored values; OK writes them back and searches, Cancel writes
  // nothing and does not search.
  void ShowSearchDialog(TEdiEditor& editor, QWidget* boxParent);
  // Searches the stored text; false (after the not-found box) when there is no match.
  bool DoSearch(TEdiEditor& editor, bool backwards, QWidget* boxParent);
  // F3: forward, from the start of the text until a search has run, from the caret after.
  bool SearchNext(TEdiEditor& editor, QWidget* boxParent);
  bool SearchFromCaret() const { return FSearchFromCaret; }

 private:
  // The whole text until the first search; from the caret afterwards.
  bool FSearchFromCaret = false;
};

}  // namespace verimek::ui
