// The file sheet: validates every message of a text file in the background, then shows the
// global counts, the counts per code and per text, and a paged list of the messages with the
// text, errors and warnings of the selected one. Its rules live in FileSheetModel.
#pragma once

#include <QString>
#include <memory>

#include "FileSheetModel.h"
#include "SheetEditorOps.h"

class QChartView;
class QComboBox;
class QGroupBox;
class QLabel;
class QMenu;
class QProgressBar;
class QSplitter;
class QStatusBar;
class QTabWidget;
class QTimer;
class QToolButton;
class QTreeView;
class QTreeWidget;
class QTreeWidgetItem;

namespace verimek {
class TValidateFileWorker;
class TWorker;
}  // namespace verimek

namespace verimek::ui {

class TEdiEditor;

class TSheetFileFrm : public TSheetEditorOps {
  Q_OBJECT

 public:
  TSheetFileFrm(TTabSheetEx* owner, TAppServices& app);
  ~TSheetFileFrm() override;

  QString GetCaretPos() override;
  void SetFilename(const QString& name) override;
  bool CanSaveAs() override;
  bool CanFormatEdifact() override;
  bool CanUnformatEdifact() override;
  bool CanValidate() override;
  bool CanGotoSegment() override;
  void FormatEdifact() override;
  void UnformatEdifact() override;
  bool SaveAs() override;
  void GotoSegment() override;
  void Validate() override;

  // Paging of the details list: what a key does there (the sheet sees keys first).
  bool DetailsKey(int key, Qt::KeyboardModifiers modifiers);
  void LoadPage(std::int64_t offset);
  std::int64_t RowsThatFit() const;
  // A run, or the preparing of its results, is in progress.
  bool Running() const { return FValidateFileWorker != nullptr || FPreparing; }
  // Shows the results stored in dbFile by an earlier run, as at the end of a run; the sheet
  // owns the file from then on (deleted at close unless kept).
  void ShowResultsOf(const QString& dbFile);
  // Opens the selected message of the details list in a new message sheet.
  void OpenSelectedInMessageSheet();

  // The parts, by their names, for tests and screenshots.
  QComboBox* cb_Filename = nullptr;
  QToolButton* sb_Browse = nullptr;
  QGroupBox* gb_Progress = nullptr;
  QLabel* st_ProgressMsg = nullptr;
  QProgressBar* ProgressBar = nullptr;
  QGroupBox* gb_Result = nullptr;
  QTabWidget* pc_Main = nullptr;
  QTreeView* lv_GlobalResult = nullptr;
  QTreeView* lv_ErrorMessage = nullptr;
  QTreeView* lv_ErrorCode = nullptr;
  QTreeView* lv_WarningMessage = nullptr;
  QTreeView* lv_WarningCode = nullptr;
  QChartView* ch_ErrorCode = nullptr;
  QChartView* ch_WarningCode = nullptr;
  QTreeWidget* lv_Details = nullptr;
  QStatusBar* sb_Records = nullptr;
  QSplitter* sp_Details = nullptr;
  QWidget* pn_Bottom = nullptr;
  QSplitter* sp_Bottom = nullptr;
  QTabWidget* pc_ErrorWarning = nullptr;
  QTreeWidget* lv_Errors = nullptr;
  QTreeWidget* lv_Warnings = nullptr;
  QMenu* LvPopupMenu = nullptr;
  QMenu* EditorPopupMenu = nullptr;
  QMenu* DetailsPopupMenu = nullptr;

  const QString& DbFilename() const { return FDbFilename; }
  // The message date of the next runs, in days; 0 leaves the worker's own, today.
  double MessageDate = 0;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  // The editing commands go to the editor only while it has the focus.
  bool EditorActive() const override;

 private:
  void Browse();
  void StartRun();
  void OnValidateFileProgress(const std::string& msg, int min, int max, int pos);
  void OnValidateFileError(const std::string& msg, bool& cancel);
  void OnValidateFileWorkerDone(TWorker& worker);
  void ShowProgressReport(const TProgressCoalescer::TReport& report);
  void PrepareAndShowResults();
  void ShowResults();
  void FillGlobalResult();
  void TabActivated(int index);
  void FillStatistics(int index);
  void DetailsSelectionChanged();
  void SelectLowerSegment(QTreeWidget* list);
  void LoadCodeTexts();
  // Runs a step that reads the results; a failure is shown and the window stays usable.
  template <class F>
  void Guarded(F step);

  TValidateFileWorker* FValidateFileWorker = nullptr;
  QString FDbFilename;
  TFileSheetResults FResults;
  bool FCodeTextsLoaded = false;
  bool FStatsFilled[5] = {};
  TSheetFileLayout FLayout;
  bool FBottomApplied = false, FEditorApplied = false;
  TProgressCoalescer FCoalescer;
  QTimer* FProgressFlush = nullptr;
  bool FPreparing = false;
  // Lets a step queued by a thread of the sheet know whether the sheet is still there.
  std::shared_ptr<bool> FAlive = std::make_shared<bool>(true);
};

}  // namespace verimek::ui
