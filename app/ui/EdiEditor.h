// The text editor of the message and file sheets: an interchange as text, coloured by its
// syntax, addressed by character offsets, and marked where a validation found something.
#pragma once

#include <Qsci/qsciscintilla.h>

#include <QString>
#include <string>
#include <vector>

namespace verimek::ui {

class TEdiLexer;

class TEdiEditor : public QsciScintilla {
  Q_OBJECT

 public:
  enum class TMarkKind { mkError, mkWarning };

  explicit TEdiEditor(QWidget* parent = nullptr);
  ~TEdiEditor() override;

  QString Text() const { return text(); }
  // Replaces the whole text; the undo history starts anew and the text counts as unmodified.
  void SetText(const QString& text);  // NOLINT(bugprone-virtual-near-miss)
  // The same from UTF-8, without a detour through QString (files of megabytes).
  void SetTextUtf8(const std::string& utf8);
  // Replaces the whole text as one undoable change, marking it modified (indent, unindent).
  void ReplaceAllText(const QString& text);
  // Length in UTF-16 code units, the unit of every offset here.
  int TextLength() const;
  bool IsEmpty() const { return length() == 0; }

  bool Modified() const { return isModified(); }
  void SetModified(bool modified) { setModified(modified); }

  // "%d:%d": the caret's line and column, both counted from 1.
  QString CaretPosText() const;
  // Selects len characters from start (UTF-16 offsets in Text()), caret at the end, and
  // scrolls the selection into view.
  void SelectCharRange(int start, int len);
  // Selection as UTF-16 offsets in Text().
  int SelStart() const;
  int SelLength() const;
  // Caret at the start of line (0-based), scrolled into view.
  void GotoLine(int line);

  bool CanUndo() const { return isUndoAvailable(); }
  bool CanPaste() const;
  void Undo() { undo(); }
  void Cut() { cut(); }
  void Copy() { copy(); }
  void Paste() { paste(); }
  void SelectAllText() { selectAll(true); }
  // Removes the selected text.
  void DeleteSelection() { removeSelectedText(); }

  // Underlines the characters [start, start + len) (UTF-16 offsets) with the kind's colour;
  // hovering them shows tip. The marks go with the next change of the text.
  void AddMark(int start, int len, TMarkKind kind, const QString& tip);
  void ClearMarks();
  // The tips of the marks covering the character offset, errors first; empty when none.
  QString MarkTipAt(int offset) const;
  int MarkCount() const { return static_cast<int>(FMarks.size()); }

  // Byte position of Scintilla for a UTF-16 offset, and back.
  long BytePos(int offset) const;
  int CharOffset(long bytePos) const;

  static constexpr int kErrorIndicator = 8;
  static constexpr int kWarningIndicator = 9;

 private:
  void OnDwellStart(int position, int x, int y);
  void OnTextChanged();

  struct TMark {
    long Start, End;  // bytes
    TMarkKind Kind;
    QString Tip;
  };
  TEdiLexer* FLexer;
  std::vector<TMark> FMarks;
};

}  // namespace verimek::ui
