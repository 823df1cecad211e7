#include "SheetEditorOps.h"

#include "AppServices.h"
#include "EdiEditor.h"
#include "Settings.h"

namespace verimek::ui {

bool TSheetEditorOps::CanCopy() { return EditorActive() && Editor->hasSelectedText(); }
bool TSheetEditorOps::CanCut() { return CanCopy(); }
bool TSheetEditorOps::CanDelete() { return CanCopy(); }
bool TSheetEditorOps::CanPaste() { return EditorActive() && Editor->CanPaste(); }
bool TSheetEditorOps::CanUndo() { return EditorActive() && Editor->CanUndo(); }
bool TSheetEditorOps::CanSearch() { return EditorActive() && !Editor->IsEmpty(); }
bool TSheetEditorOps::CanSearchNext() { return EditorActive() && !Settings().SearchText().empty(); }
bool TSheetEditorOps::CanSelectAll() { return CanSearch(); }

void TSheetEditorOps::Copy() {
  TBaseSheetFrm::Copy();
  Editor->Copy();
}

void TSheetEditorOps::Cut() {
  TBaseSheetFrm::Cut();
  Editor->Cut();
}

void TSheetEditorOps::Delete() {
  TBaseSheetFrm::Delete();
  Editor->DeleteSelection();
}

void TSheetEditorOps::Paste() {
  TBaseSheetFrm::Paste();
  Editor->Paste();
}

void TSheetEditorOps::Search() {
  TBaseSheetFrm::Search();
  FSearch.ShowSearchDialog(*Editor, App().MainWindow());
}

void TSheetEditorOps::SearchNext() {
  TBaseSheetFrm::SearchNext();
  FSearch.SearchNext(*Editor, App().MainWindow());
}

void TSheetEditorOps::SelectAll() {
  TBaseSheetFrm::SelectAll();
  Editor->SelectAllText();
}

void TSheetEditorOps::Undo() {
  TBaseSheetFrm::Undo();
  Editor->Undo();
}

}  // namespace verimek::ui
