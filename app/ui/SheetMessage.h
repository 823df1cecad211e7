// The message sheet: one interchange as text, validated by the engine on a worker, its
// findings listed under the editor and marked in the text, its syntax errors on request.
#pragma once

#include <QString>

#include "LineReader.h"
#include "SheetEditorOps.h"

class QListWidget;
class QMenu;
class QSplitter;
class QTabWidget;
class QTimer;
class QTreeWidget;

namespace verimek {
class TWorker;
class TValidateMsgWorker;
class TValidateSyntaxWorker;
}  // namespace verimek

namespace verimek::ui {

class TEdiEditor;

class TSheetMessageFrm : public TSheetEditorOps {
  Q_OBJECT

 public:
  TSheetMessageFrm(TTabSheetEx* owner, TAppServices& app);
  ~TSheetMessageFrm() override;

  // A text that belongs to no file yet (the file sheet's "Open in message sheet").
  void LoadText(const QString& caption, const QString& text);

  QString GetCaretPos() override;
  void SetFilename(const QString& name) override;
  bool CanClose() override;
  bool CanFormatEdifact() override;
  bool CanUnformatEdifact() override;
  bool CanValidate() override;
  bool CanSave() override;
  bool CanSaveAs() override;
  bool CanGotoSegment() override;
  void Undo() override;
  void FormatEdifact() override;
  void UnformatEdifact() override;
  void Validate() override;
  bool Save() override;
  bool SaveAs() override;
  void GotoSegment() override;
  void ContextPopupMenu(const QString& Code, const QString& Data) override;

  // Selects segment N of the text as the validator numbers it; nothing when there is none.
  void SelectSegment(int N);
  // Fills LvPopupMenu for the list of the active tab, as when it opens.
  void PrepareLvPopupMenu();
  // Puts the caret on the line a syntax error names ("near line N"); nothing without one.
  void GotoSyntaxErrorLine(const QString& line);
  // The segment of the list's selected row.
  void GotoListSegment(QTreeWidget* list);

  QSplitter* Splitter;
  QTabWidget* PageControl;
  QWidget* TabErrors;
  QWidget* TabWarnings;
  QWidget* TabSyntaxError;
  QTreeWidget* lv_Errors;
  QTreeWidget* lv_Warnings;
  QListWidget* lb_SyntaxErrors;
  QMenu* LvPopupMenu;
  QTimer* ProgressTimer;

  bool ValidateRunning() const { return FValidateMsgWorker != nullptr; }
  bool SyntaxCheckRunning() const { return FValidateSyntaxWorker != nullptr; }
  bool SyntaxTabVisible() const;
  TTextEncoding Encoding() const { return FEncoding; }

 private:
  void RefreshImage();
  void OnProgressTimer();
  void OnValidateMsgDone(TWorker& worker);
  void OnValidateMsgWorkerDone(TWorker& worker);
  void OnValidateSyntaxDone(TWorker& worker);
  void OnValidateSyntaxWorkerDone(TWorker& worker);
  void ShowLvPopupMenu(QTreeWidget* list, const QPoint& pos);
  void AddContextItems(const QString& code, const QString& text);
  void MarkFindings();
  QTreeWidget* ActiveList() const;

  TValidateMsgWorker* FValidateMsgWorker = nullptr;
  TValidateSyntaxWorker* FValidateSyntaxWorker = nullptr;
  TTextEncoding FEncoding = teUtf8;
  bool FBom = false;
};

}  // namespace verimek::ui
