// The editing commands of a sheet whose text is one editor, held once for the message and the
// file sheet: each writes the base's trace line, then goes to Editor.
#pragma once

#include "BaseSheet.h"
#include "SearchTextDlg.h"

namespace verimek::ui {

class TEdiEditor;

class TSheetEditorOps : public TBaseSheetFrm {
  Q_OBJECT

 public:
  using TBaseSheetFrm::TBaseSheetFrm;

  bool CanCopy() override;
  bool CanCut() override;
  bool CanDelete() override;
  bool CanPaste() override;
  bool CanUndo() override;
  bool CanSearch() override;
  bool CanSearchNext() override;
  bool CanSelectAll() override;
  void Copy() override;
  void Cut() override;
  void Delete() override;
  void Paste() override;
  void Search() override;
  void SearchNext() override;
  void SelectAll() override;
  void Undo() override;

  // Made by the sheet's constructor.
  TEdiEditor* Editor = nullptr;

 protected:
  // Whether the commands reach the editor now; the file sheet's lists take them otherwise.
  virtual bool EditorActive() const { return true; }

 private:
  TEditorSearch FSearch;
};

}  // namespace verimek::ui
