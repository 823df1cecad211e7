#include "SearchTextDlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "Dialogs.h"
#include "EdiEditor.h"
#include "Settings.h"

namespace verimek::ui {

TSearchTextDlg::TSearchTextDlg(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("SearchTextDlg"));
  setWindowTitle(QStringLiteral("Search Text"));
  auto* layout = new QVBoxLayout(this);

  auto* textRow = new QHBoxLayout;
  auto* label = new QLabel(QStringLiteral("&Search for:"), this);
  cb_SearchText = new QComboBox(this);
  cb_SearchText->setObjectName(QStringLiteral("cb_SearchText"));
  cb_SearchText->setEditable(true);
  cb_SearchText->setInsertPolicy(QComboBox::NoInsert);
  cb_SearchText->setMinimumWidth(260);
  label->setBuddy(cb_SearchText);
  textRow->addWidget(label);
  textRow->addWidget(cb_SearchText, 1);
  layout->addLayout(textRow);

  auto* groups = new QHBoxLayout;
  auto* options = new QGroupBox(QStringLiteral("Options"), this);
  auto* optionsLayout = new QVBoxLayout(options);
  auto addBox = [&](const char* caption, const char* name) {
    auto* b = new QCheckBox(QString::fromUtf8(caption), options);
    b->setObjectName(QString::fromUtf8(name));
    optionsLayout->addWidget(b);
    return b;
  };
  cbx_CaseSensitive = addBox("C&ase sensitivity", "cbx_CaseSensitive");
  cbx_WholeWords = addBox("&Whole words only", "cbx_WholeWords");
  cbx_FromCaret = addBox("Search from &caret", "cbx_FromCaret");
  cbx_SelectedOnly = addBox("&Selected text only", "cbx_SelectedOnly");
  cbx_Regex = addBox("&Regular expression", "cbx_Regex");
  groups->addWidget(options);

  auto* direction = new QGroupBox(QStringLiteral("Direction"), this);
  auto* directionLayout = new QVBoxLayout(direction);
  rb_Forward = new QRadioButton(QStringLiteral("&Forward"), direction);
  rb_Forward->setObjectName(QStringLiteral("rb_Forward"));
  rb_Backward = new QRadioButton(QStringLiteral("&Backward"), direction);
  rb_Backward->setObjectName(QStringLiteral("rb_Backward"));
  rb_Forward->setChecked(true);
  directionLayout->addWidget(rb_Forward);
  directionLayout->addWidget(rb_Backward);
  directionLayout->addStretch();
  groups->addWidget(direction);
  layout->addLayout(groups);

  auto* buttons = new QDialogButtonBox(this);
  buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole)->setDefault(true);
  buttons->addButton(QStringLiteral("Cancel"), QDialogButtonBox::RejectRole);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons);
}

void TSearchTextDlg::SetOptions(const TSearchOptions& o) {
  FHistory = o.History;
  cb_SearchText->clear();
  for (const std::string& h : o.History) cb_SearchText->addItem(QString::fromStdString(h));
  cb_SearchText->setEditText(QString::fromStdString(o.Text));
  cbx_CaseSensitive->setChecked(o.CaseSensitive);
  cbx_WholeWords->setChecked(o.WholeWords);
  cbx_FromCaret->setChecked(o.FromCaret);
  cbx_SelectedOnly->setChecked(o.SelectionOnly);
  cbx_Regex->setChecked(o.Regex);
  (o.Backwards ? rb_Backward : rb_Forward)->setChecked(true);
}

TSearchOptions TSearchTextDlg::Options() const {
  TSearchOptions o;
  o.History = FHistory;
  o.Text = cb_SearchText->currentText().toStdString();
  o.CaseSensitive = cbx_CaseSensitive->isChecked();
  o.WholeWords = cbx_WholeWords->isChecked();
  o.FromCaret = cbx_FromCaret->isChecked();
  o.SelectionOnly = cbx_SelectedOnly->isChecked();
  o.Regex = cbx_Regex->isChecked();
  o.Backwards = rb_Backward->isChecked();
  return o;
}

void TEditorSearch::ShowSearchDialog(TEdiEditor& editor, QWidget* boxParent) {
  TSettings& settings = Settings();
  TSearchOptions options = LoadSearchOptions(settings);
  if (settings.SearchTextAtCaret()) {
    int lineFrom = 0, indexFrom = 0, lineTo = 0, indexTo = 0;
    editor.getSelection(&lineFrom, &indexFrom, &lineTo, &indexTo);
    if (editor.hasSelectedText() && lineFrom == lineTo) {
      options.Text = editor.selectedText().toStdString();
    } else {
      const long pos = editor.SendScintilla(QsciScintillaBase::SCI_GETCURRENTPOS);
      const long from = editor.SendScintilla(QsciScintillaBase::SCI_WORDSTARTPOSITION, static_cast<unsigned long>(pos), 1L);
      const long to = editor.SendScintilla(QsciScintillaBase::SCI_WORDENDPOSITION, static_cast<unsigned long>(pos), 1L);
      if (to > from) {
        options.Text = editor.text().mid(editor.CharOffset(from), editor.CharOffset(to) - editor.CharOffset(from)).toStdString();
      }
    }
  }
  TSearchTextDlg dlg(boxParent);
  dlg.SetOptions(options);
  if (Dialogs().Exec(dlg) != QDialog::Accepted) return;
  options = dlg.Options();
  AcceptSearchOptions(settings, options);
  FSearchFromCaret = settings.SearchFromCaret();
  if (!settings.SearchText().empty()) DoSearch(editor, settings.SearchBackwards(), boxParent);
  FSearchFromCaret = true;
}

bool TEditorSearch::SearchNext(TEdiEditor& editor, QWidget* boxParent) {
  const bool found = DoSearch(editor, false, boxParent);
  // Otherwise every F3 would find the first match again.
  FSearchFromCaret = true;
  return found;
}

bool TEditorSearch::DoSearch(TEdiEditor& editor, bool backwards, QWidget* boxParent) {
  TSettings& settings = Settings();
  const QString text = QString::fromStdString(settings.SearchText());
  if (text.isEmpty()) return false;
  const bool regex = settings.SearchRegex();
  const bool cs = settings.SearchCaseSensitive();
  const bool words = settings.SearchWholeWords();
  const bool forward = !backwards;
  const long selStart = editor.SendScintilla(QsciScintillaBase::SCI_GETSELECTIONSTART);
  const long selEnd = editor.SendScintilla(QsciScintillaBase::SCI_GETSELECTIONEND);
  bool found = false;
  if (settings.SearchSelectionOnly() && selEnd > selStart) {
    found = editor.findFirstInSelection(text, regex, cs, words, forward, true, false, true);
  } else {
    // The search runs from the current position: from the caret, the far side of the last
    // match, so a repeated search moves on; else from the start (or the end, backwards).
    long from = 0;
    if (FSearchFromCaret) {
      from = forward ? selEnd : selStart;
    } else {
      from = forward ? 0 : editor.length();
    }
    editor.SendScintilla(QsciScintillaBase::SCI_SETEMPTYSELECTION, static_cast<unsigned long>(from));
    found = editor.findFirst(text, regex, cs, words, false, forward, -1, -1, true, false, true);
  }
  if (!found) {
    ShowError(boxParent, QStringLiteral("'") + text + QStringLiteral("' not found"));
    const long at = backwards ? selStart : selEnd;
    editor.SendScintilla(QsciScintillaBase::SCI_SETEMPTYSELECTION, static_cast<unsigned long>(at));
  }
  return found;
}

}  // namespace verimek::ui
