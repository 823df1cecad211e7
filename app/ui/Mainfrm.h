// The main window: the commands with their enabling rules, menus, toolbar, pages and status
// bar, the start-up load of the referential, the recent files and the closing rules. It is
// what the sheets see of the program (TAppServices).
#pragma once

#include <QList>
#include <QMainWindow>
#include <QMap>
#include <QPair>
#include <QStringList>
#include <functional>
#include <memory>

#include "AppServices.h"
#include "BaseSheet.h"
#include "QtWorkerHost.h"
#include "evWorkers.h"

class QAction;
class QLabel;
class QMenu;
class QTabWidget;
class QTimer;
class QToolBar;
class QToolButton;

namespace verimek {
class TTelebibDataModule;
}

namespace verimek::ui {

class TMruPopupMenu;

using TSheetFactory = std::function<TBaseSheetFrm*(TTabSheetEx*, TAppServices&)>;
using TMessageTextLoader = std::function<void(TBaseSheetFrm*, const QString& caption, const QString& text)>;

struct TMainFormOptions {
  // The command line held "keepdb".
  bool KeepDb = false;
  TComponentFactory Factory = TComponentFactory::ByClassId();
  // Opened as pages, in order, once the referential load has ended.
  QStringList Files;
  // Posts the start message from the constructor; tests start the load themselves.
  bool PostStart = true;
  // The recent-files list's key in the user hive.
  std::string MruKey = "Software\\Solberk\\Verimek";
  // Runs when the start-up load failed and its error has been shown: ends the program.
  std::function<void()> OnStartupFailed;
};

class TMainForm : public QMainWindow, public TAppServices {
  Q_OBJECT

 public:
  explicit TMainForm(TMainFormOptions options = {}, QWidget* parent = nullptr);
  // Disconnects the referential names and saves the window position.
  ~TMainForm() override;

  void SetSheetFactories(TSheetFactory message, TSheetFactory file);
  void SetMessageTextLoader(TMessageTextLoader loader);

  // TAppServices
  QAction* Command(const QString& name) override;
  QWidget* MainWindow() override { return this; }
  QStringList ExecuteOpenDialog() override;
  QString ExecuteSaveDialog(const QString& fileName) override;
  TTelebibDataModule* Telebib() override;
  QString TelebibUnavailableReason() override;
  bool KeepDb() override { return FOptions.KeepDb; }
  TWorkerHost& WorkerHost() override { return *FHost; }
  const TComponentFactory& ComponentFactory() override { return FOptions.Factory; }
  void OpenMessageText(const QString& caption, const QString& text) override;

  // Raises "File \"%s\" not found"; otherwise a new message sheet on the file, active.
  void OpenFile(const QString& name);
  TBaseSheetFrm* NewMessageSheet();
  TBaseSheetFrm* NewFileSheet();
  // Close commands: a sheet may raise EAbort to end them, leaving the pages not yet visited.
  void ClosePage();
  void CloseAllPages();
  void CloseAllPagesButThis();
  // Files dropped from the desktop, opened in the given order; a failure is shown and the
  // next file still opens.
  void DropFiles(const QStringList& names);

  // The start message: busy, disabled, the overlay, the referential worker.
  void StartReferentialLoad();
  bool StartupDone() const { return FStartupDone; }

  // Busy counter: set adds one, clear subtracts one; the wait cursor while not 0.
  bool Busy() const { return FBusy != 0; }
  void SetBusy(bool busy);

  TBaseSheetFrm* ActiveSheet() const;
  QTabWidget* PageControl() const { return FPages; }
  QLabel* CaretPanel() const { return FCaretPanel; }
  QLabel* HintPanel() const { return FHintPanel; }
  TMruPopupMenu* MruMenu() const { return FMruMenu; }
  QMenu* TabPopupMenu() const { return FTabPopup; }
  QMenu* PagesMenu() const { return FPagesMenu; }
  QToolBar* ToolBar() const { return FToolBar; }
  // The enabling rules and the caret panel, as the idle pass runs them.
  void UpdateCommands();
  // Idle passes run so far.
  int IdlePasses() const { return FIdlePasses; }
  // Runs a command's work: EAbort ends it silently, another exception is shown.
  void RunCommand(const std::function<void()>& work);

 signals:
  void StartupFinished();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QAction* AddCommand(const char* name, const QString& caption, const QString& hint, const QKeySequence& shortcut = {});
  void CreateCommands();
  void CreateMenus();
  TBaseSheetFrm* AddPage(const TSheetFactory& factory, const QString& caption);
  void FreePage(int index);
  void UpdatePageVisibility();
  void ScheduleIdle();
  void OnReferentialNameWorkerDone(TWorker& worker);
  void ShowTabPopup(const QPoint& globalPos);
  void RebuildPagesMenu();
  void ShowAbout();
  bool SheetCan(bool (TBaseSheetFrm::*can)()) const;

  TMainFormOptions FOptions;
  std::unique_ptr<TTelebibDataModule> FTelebib;
  bool FTelebibConnected = false;
  QString FTelebibReason;
  TSheetFactory FMessageFactory, FFileFactory;
  TMessageTextLoader FMessageTextLoader;
  int FBusy = 0;
  bool FStartupDone = false;
  QTimer* FIdle = nullptr;
  int FIdlePasses = 0;

  QTabWidget* FPages = nullptr;
  QLabel* FCaretPanel = nullptr;
  QLabel* FHintPanel = nullptr;
  QToolBar* FToolBar = nullptr;
  TMruPopupMenu* FMruMenu = nullptr;
  QMenu* FTabPopup = nullptr;
  QMenu* FPagesMenu = nullptr;
  QMap<QString, QAction*> FCommands;
  // Sheet commands and the operation that enables each.
  QList<QPair<QAction*, bool (TBaseSheetFrm::*)()>> FSheetCommands;

  QAction* AcFileNew = nullptr;
  QAction* AcFileOpen = nullptr;
  QAction* AcFileSave = nullptr;
  QAction* AcFileSaveAs = nullptr;
  QAction* AcPageClose = nullptr;
  QAction* AcPageCloseAll = nullptr;
  QAction* AcPageCloseAllButThis = nullptr;
  QAction* AcFileExit = nullptr;
  QAction* AcEditCut = nullptr;
  QAction* AcEditCopy = nullptr;
  QAction* AcEditPaste = nullptr;
  QAction* AcEditDelete = nullptr;
  QAction* AcEditUndo = nullptr;
  QAction* AcEditSelectAll = nullptr;
  QAction* AcEditSearch = nullptr;
  QAction* AcEditSearchNext = nullptr;
  QAction* AcEdifactValidate = nullptr;
  QAction* AcEdifactValidateFile = nullptr;
  QAction* AcEdifactIndent = nullptr;
  QAction* AcEdifactUnindent = nullptr;
  QAction* AcEdifactGotoSegment = nullptr;
  QAction* AcHelpTelebib2 = nullptr;
  QAction* AcHelpAbout = nullptr;
  QAction* AcContext_E0005 = nullptr;

  // Last: destroyed first, so that a running worker's last steps still find the window.
  std::unique_ptr<TQtWorkerHost> FHost;
};

}  // namespace verimek::ui
