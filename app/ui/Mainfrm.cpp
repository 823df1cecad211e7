// The main window of the desktop program.
#include "Mainfrm.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QLabel>
#include <QMenuBar>
#include <QMimeData>
#include <QStatusBar>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>
#include <algorithm>
#include <stdexcept>

#include "Dialogs.h"
#include "MruPopupMenu.h"
#include "ProgressFrm.h"
#include "Settings.h"
#include "SysTrace.h"
#include "UTelebib.h"
#include "evAboutDlg.h"

namespace verimek::ui {

namespace {

// The public site of the Telebib2 standard.
const char* const kTelebibSite = "https://www.telebib2.org";

TWindowPlacement PlacementOf(const QWidget& w) {
  TWindowPlacement p;
  p.State = w.isMaximized()   ? TWindowPlacement::wsMaximized
            : w.isMinimized() ? TWindowPlacement::wsMinimized
                              : TWindowPlacement::wsNormal;
  p.Top = w.y();
  p.Left = w.x();
  p.Height = w.height();
  p.Width = w.width();
  return p;
}

void Warn(const std::string& text) { common::Trace()->Write("TMainForm", text, common::ttWarning); }

}  // namespace

TMainForm::TMainForm(TMainFormOptions options, QWidget* parent)
    : QMainWindow(parent), FOptions(std::move(options)), FHost(std::make_unique<TQtWorkerHost>()) {
  setObjectName(QStringLiteral("MainForm"));
  setWindowTitle(QStringLiteral("Verimek"));
  setWindowIcon(ProgramIcon());
  resize(900, 640);
  FMessageFactory = FFileFactory = [](TTabSheetEx* owner, TAppServices& app) { return new TBaseSheetFrm(owner, app); };
  if (!FOptions.OnStartupFailed) FOptions.OnStartupFailed = [] { QCoreApplication::exit(1); };

  FPages = new QTabWidget(this);
  FPages->setObjectName(QStringLiteral("PageControl"));
  FPages->setVisible(false);
  // Dragging a tab moves its page (the toolkit's own tab dragging).
  FPages->setMovable(true);
  FPages->tabBar()->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(FPages->tabBar(), &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
    if (FPages->tabBar()->tabAt(pos) >= 0) ShowTabPopup(FPages->tabBar()->mapToGlobal(pos));
  });
  setCentralWidget(FPages);

  FMruMenu = new TMruPopupMenu(this);
  FMruMenu->OnOpen = [this](const QString& name) { RunCommand([&] { OpenFile(name); }); };
  CreateCommands();
  CreateMenus();

  FCaretPanel = new QLabel(QStringLiteral("0:0"), this);
  FCaretPanel->setObjectName(QStringLiteral("CaretPanel"));
  FCaretPanel->setAlignment(Qt::AlignCenter);
  FCaretPanel->setMinimumWidth(50);
  FHintPanel = new QLabel(this);
  FHintPanel->setObjectName(QStringLiteral("HintPanel"));
  statusBar()->addWidget(FCaretPanel);
  statusBar()->addWidget(FHintPanel, 1);

  // The idle pass: a zero-time timer started by the events that may change what the commands
  // answer, so that a burst of events gives one pass once the queue is empty.
  FIdle = new QTimer(this);
  FIdle->setSingleShot(true);
  FIdle->setInterval(0);
  connect(FIdle, &QTimer::timeout, this, [this] {
    ++FIdlePasses;
    UpdateCommands();
  });
  qApp->installEventFilter(this);

  FTelebib = std::make_unique<TTelebibDataModule>();
  FTelebibReason = QStringLiteral("The referential names are not loaded yet");
  try {
    TWindowPlacement p = PlacementOf(*this);
    Settings().LoadPosition("MainForm", p);
    if (p.State == TWindowPlacement::wsMaximized) {
      setWindowState(Qt::WindowMaximized);
    } else {
      move(p.Left, p.Top);
      if (p.Width > 0 && p.Height > 0) resize(p.Width, p.Height);
    }
  } catch (const std::exception& e) {
    Warn(e.what());
  }
  try {
    FMruMenu->SetRegistryKey(FOptions.MruKey);
  } catch (const std::exception& e) {
    Warn(e.what());
  }
  setAcceptDrops(true);
  if (FOptions.PostStart) QMetaObject::invokeMethod(this, &TMainForm::StartReferentialLoad, Qt::QueuedConnection);
  ScheduleIdle();
}

TMainForm::~TMainForm() {
  qApp->removeEventFilter(this);
  // Jobs still running end while the window exists.
  FHost.reset();
  if (FTelebib) FTelebib->Disconnect();
  try {
    Settings().SavePosition("MainForm", PlacementOf(*this));
  } catch (const std::exception& e) {
    Warn(e.what());
  }
  HideProgress();
}

void TMainForm::SetSheetFactories(TSheetFactory message, TSheetFactory file) {
  if (message) FMessageFactory = std::move(message);
  if (file) FFileFactory = std::move(file);
}

void TMainForm::SetMessageTextLoader(TMessageTextLoader loader) { FMessageTextLoader = std::move(loader); }

// ---- commands

QAction* TMainForm::AddCommand(const char* name, const QString& caption, const QString& hint,
                               const QKeySequence& shortcut) {
  auto* a = new QAction(caption, this);
  a->setObjectName(QString::fromLatin1(name));
  // Hints are "short|long": the short part is the tooltip, the long part goes to status panel 1.
  const int bar = hint.indexOf(QLatin1Char('|'));
  a->setToolTip(bar < 0 ? hint : hint.left(bar));
  a->setStatusTip(bar < 0 ? hint : hint.mid(bar + 1));
  if (!shortcut.isEmpty()) a->setShortcut(shortcut);
  connect(a, &QAction::hovered, this, [this, a] { FHintPanel->setText(a->statusTip()); });
  FCommands.insert(a->objectName(), a);
  return a;
}

void TMainForm::CreateCommands() {
  AcFileNew = AddCommand("AcFileNew", "New...", "New|New empty message", QKeySequence(QStringLiteral("Ctrl+N")));
  AcFileOpen = AddCommand("AcFileOpen", "Open...", "Open|Open file", QKeySequence(QStringLiteral("Ctrl+O")));
  AcFileSave = AddCommand("AcFileSave", "Save", "Save|Save current message", QKeySequence(QStringLiteral("Ctrl+S")));
  AcFileSaveAs = AddCommand("AcFileSaveAs", "Save as...", "Save as|Save current message with another name");
  AcPageClose = AddCommand("AcPageClose", "Close page", "Close|Close current page");
  AcPageCloseAll = AddCommand("AcPageCloseAll", "Close all pages", "Close All|Close all pages");
  AcPageCloseAllButThis = AddCommand("AcPageCloseAllButThis", "Close all pages but this", "Close all but this");
  AcFileExit = AddCommand("AcFileExit", "Exit", "Exit|Exit the application", QKeySequence(QStringLiteral("Alt+F4")));
  AcEditCut = AddCommand("AcEditCut", "Cut", "Cut|Cut current selection and copy to clipboard",
                         QKeySequence(QStringLiteral("Ctrl+X")));
  AcEditCopy = AddCommand("AcEditCopy", "Copy", "Copy|Copy current selection to clipboard",
                          QKeySequence(QStringLiteral("Ctrl+C")));
  AcEditPaste = AddCommand("AcEditPaste", "Paste", "Paste|Paste clipboard text to current message",
                           QKeySequence(QStringLiteral("Ctrl+V")));
  AcEditDelete = AddCommand("AcEditDelete", "Delete", "Delete|Delete selected text in current message");
  AcEditUndo = AddCommand("AcEditUndo", "Undo", "Undo|Undo last action", QKeySequence(QStringLiteral("Ctrl+Z")));
  AcEditSelectAll = AddCommand("AcEditSelectAll", "Select all", "Select All|Select all text in current message",
                               QKeySequence(QStringLiteral("Ctrl+A")));
  AcEditSearch = AddCommand("AcEditSearch", "Search...", "Search|Search text in current message",
                            QKeySequence(QStringLiteral("Ctrl+F")));
  AcEditSearchNext =
      AddCommand("AcEditSearchNext", "Search next", "Search next|Search next text occurrence in current message",
                 QKeySequence(QStringLiteral("F3")));
  AcEdifactValidate = AddCommand("AcEdifactValidate", "Validate", "Validate|Validate edifact message(s)",
                                 QKeySequence(QStringLiteral("F9")));
  AcEdifactValidateFile =
      AddCommand("AcEdifactValidateFile", "Validate File...", "Validate File|Validate all messages in a file");
  AcEdifactIndent = AddCommand("AcEdifactIndent", "Indent", "Indent|Indent current message");
  AcEdifactUnindent = AddCommand("AcEdifactUnindent", "Unindent", "Unindent|Unindent current message");
  AcEdifactGotoSegment =
      AddCommand("AcEdifactGotoSegment", "Goto segment...", "Goto segment|Select segment in current message");
  AcHelpTelebib2 = AddCommand("AcHelpTelebib2", QString::fromLatin1(kTelebibSite), QString::fromLatin1(kTelebibSite));
  AcHelpAbout = AddCommand("AcHelpAbout", "About...", "About|Show about dialog");
  AcContext_E0005 = AddCommand("AcContext_E0005", "Show syntax errors", "Show syntax errors");

  // Shortcuts such as Ctrl+C belong to the focused editor first; the window's commands take
  // them only when no child wants them, so window-wide shortcuts are enough.
  for (QAction* a : FCommands) addAction(a);

  using S = TBaseSheetFrm;
  FSheetCommands = {{AcFileSave, &S::CanSave},
                    {AcFileSaveAs, &S::CanSaveAs},
                    {AcEditCut, &S::CanCut},
                    {AcEditCopy, &S::CanCopy},
                    {AcEditPaste, &S::CanPaste},
                    {AcEditDelete, &S::CanDelete},
                    {AcEditUndo, &S::CanUndo},
                    {AcEditSelectAll, &S::CanSelectAll},
                    {AcEditSearch, &S::CanSearch},
                    {AcEditSearchNext, &S::CanSearchNext},
                    {AcEdifactValidate, &S::CanValidate},
                    {AcEdifactIndent, &S::CanFormatEdifact},
                    {AcEdifactUnindent, &S::CanUnformatEdifact},
                    {AcEdifactGotoSegment, &S::CanGotoSegment}};

  // A sheet command runs on the sheet of the active page.
  auto onSheet = [this](QAction* a, auto op) {
    connect(a, &QAction::triggered, this, [this, op] {
      RunCommand([&] {
        if (TBaseSheetFrm* s = ActiveSheet()) (void)(s->*op)();
      });
    });
  };
  onSheet(AcFileSave, &S::Save);
  onSheet(AcFileSaveAs, &S::SaveAs);
  onSheet(AcEditCut, &S::Cut);
  onSheet(AcEditCopy, &S::Copy);
  onSheet(AcEditPaste, &S::Paste);
  onSheet(AcEditDelete, &S::Delete);
  onSheet(AcEditUndo, &S::Undo);
  onSheet(AcEditSelectAll, &S::SelectAll);
  onSheet(AcEditSearch, &S::Search);
  onSheet(AcEditSearchNext, &S::SearchNext);
  onSheet(AcEdifactValidate, &S::Validate);
  onSheet(AcEdifactIndent, &S::FormatEdifact);
  onSheet(AcEdifactUnindent, &S::UnformatEdifact);
  onSheet(AcEdifactGotoSegment, &S::GotoSegment);

  connect(AcFileNew, &QAction::triggered, this, [this] { RunCommand([&] { NewMessageSheet(); }); });
  connect(AcFileOpen, &QAction::triggered, this, [this] {
    RunCommand([&] {
      // The dialog lets several files be chosen; the command opens the first.
      const QStringList names = ExecuteOpenDialog();
      if (!names.isEmpty()) OpenFile(names.front());
    });
  });
  connect(AcPageClose, &QAction::triggered, this, [this] { RunCommand([&] { ClosePage(); }); });
  connect(AcPageCloseAll, &QAction::triggered, this, [this] { RunCommand([&] { CloseAllPages(); }); });
  connect(AcPageCloseAllButThis, &QAction::triggered, this, [this] { RunCommand([&] { CloseAllPagesButThis(); }); });
  connect(AcFileExit, &QAction::triggered, this, &QWidget::close);
  connect(AcEdifactValidateFile, &QAction::triggered, this, [this] { RunCommand([&] { NewFileSheet(); }); });
  connect(AcHelpTelebib2, &QAction::triggered, this,
          [] { QDesktopServices::openUrl(QUrl(QString::fromLatin1(kTelebibSite))); });
  connect(AcHelpAbout, &QAction::triggered, this, [this] { RunCommand([&] { ShowAbout(); }); });
  connect(AcContext_E0005, &QAction::triggered, this, [this] {
    RunCommand([&] {
      if (TBaseSheetFrm* s = ActiveSheet())
        s->ContextPopupMenu(QStringLiteral("E0005"), AcContext_E0005->data().toString());
    });
  });
}

void TMainForm::CreateMenus() {
  QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
  file->menuAction()->setStatusTip(QStringLiteral("File related commands"));
  file->addActions({AcFileNew, AcFileOpen, AcFileSave, AcFileSaveAs});
  file->addSeparator();
  file->addActions({AcPageClose, AcPageCloseAll, AcPageCloseAllButThis});
  file->addSeparator();
  file->addAction(AcFileExit);

  QMenu* edit = menuBar()->addMenu(QStringLiteral("&Edit"));
  edit->addActions({AcEditCut, AcEditCopy, AcEditPaste});
  edit->addSeparator();
  edit->addAction(AcEditSearch);

  QMenu* edifact = menuBar()->addMenu(QStringLiteral("Edifact"));
  edifact->addActions({AcEdifactValidate, AcEdifactValidateFile});
  edifact->addSeparator();
  edifact->addActions({AcEdifactIndent, AcEdifactUnindent});
  edifact->addSeparator();
  edifact->addAction(AcEdifactGotoSegment);

  QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
  help->menuAction()->setStatusTip(QStringLiteral("Help topics"));
  help->addAction(AcHelpTelebib2);
  help->addSeparator();
  help->addAction(AcHelpAbout);

  FToolBar = addToolBar(QStringLiteral("Main"));
  FToolBar->setObjectName(QStringLiteral("ToolBar"));
  FToolBar->setMovable(false);
  FToolBar->setToolButtonStyle(Qt::ToolButtonTextOnly);
  FToolBar->addAction(AcFileNew);
  FToolBar->addAction(AcFileOpen);
  if (auto* open = qobject_cast<QToolButton*>(FToolBar->widgetForAction(AcFileOpen))) {
    open->setMenu(FMruMenu);
    open->setPopupMode(QToolButton::MenuButtonPopup);
  }
  FToolBar->addAction(AcEdifactValidateFile);
  FToolBar->addSeparator();
  FToolBar->addActions({AcFileSave, AcFileSaveAs});
  FToolBar->addSeparator();
  FToolBar->addActions({AcEditCut, AcEditCopy, AcEditPaste, AcEditDelete});
  FToolBar->addSeparator();
  FToolBar->addActions({AcEditSearch, AcEditSearchNext});
  FToolBar->addSeparator();
  FToolBar->addActions({AcEdifactIndent, AcEdifactUnindent});
  FToolBar->addSeparator();
  FToolBar->addAction(AcEdifactValidate);

  FTabPopup = new QMenu(this);
  FTabPopup->setObjectName(QStringLiteral("TabPopupMenu"));
  FTabPopup->addActions({AcPageClose, AcPageCloseAll, AcPageCloseAllButThis});
  FTabPopup->addSeparator();
  FPagesMenu = FTabPopup->addMenu(QStringLiteral("Pages"));
  FPagesMenu->setObjectName(QStringLiteral("PagesMenu"));
  connect(FPagesMenu, &QMenu::aboutToShow, this, &TMainForm::RebuildPagesMenu);
  connect(FTabPopup, &QMenu::aboutToShow, this, &TMainForm::RebuildPagesMenu);
}

QAction* TMainForm::Command(const QString& name) { return FCommands.value(name, nullptr); }

QStringList TMainForm::ExecuteOpenDialog() {
  return Dialogs().OpenFiles(this, {QStringLiteral("Open..."), QStringLiteral("All files|*.*"), true});
}

QString TMainForm::ExecuteSaveDialog(const QString& fileName) {
  return Dialogs().SaveFile(
      this, {QStringLiteral("Save..."), QStringLiteral("Text files|*.txt|Edifact files|*.edi|All files|*.*"),
             QStringLiteral("txt"), fileName});
}

TTelebibDataModule* TMainForm::Telebib() { return FTelebibConnected ? FTelebib.get() : nullptr; }

QString TMainForm::TelebibUnavailableReason() { return FTelebibConnected ? QString() : FTelebibReason; }

// ---- idle pass

bool TMainForm::SheetCan(bool (TBaseSheetFrm::*can)()) const {
  TBaseSheetFrm* s = ActiveSheet();
  return s && (s->*can)();
}

void TMainForm::UpdateCommands() {
  const bool pages = !FPages->isHidden() && FPages->count() > 0;
  for (const auto& [action, can] : FSheetCommands) {
    bool on = false;
    try {
      on = pages && SheetCan(can);
    } catch (const std::exception& e) {
      Warn(e.what());
    }
    action->setEnabled(on);
  }
  AcPageClose->setEnabled(pages);
  AcPageCloseAll->setEnabled(pages && FPages->count() > 1);
  AcPageCloseAllButThis->setEnabled(pages && FPages->count() > 1);
  QString caret;
  if (TBaseSheetFrm* s = pages ? ActiveSheet() : nullptr) caret = s->CaretPos();
  if (caret != FCaretPanel->text()) FCaretPanel->setText(caret);
  const int width = std::max(50, FCaretPanel->fontMetrics().horizontalAdvance(caret) + 8);
  if (FCaretPanel->minimumWidth() != width) FCaretPanel->setMinimumWidth(width);
}

void TMainForm::ScheduleIdle() {
  if (FIdle && !FIdle->isActive()) FIdle->start();
}

bool TMainForm::eventFilter(QObject* watched, QEvent* event) {
  switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::Wheel:
    case QEvent::FocusIn:
    case QEvent::FocusOut:
    case QEvent::Shortcut:
    case QEvent::WindowActivate:
    case QEvent::Drop:
    case QEvent::MetaCall:  // worker steps and queued calls
      ScheduleIdle();
      break;
    default:
      break;
  }
  return QMainWindow::eventFilter(watched, event);
}

// ---- pages

TBaseSheetFrm* TMainForm::ActiveSheet() const {
  auto* tab = qobject_cast<TTabSheetEx*>(FPages->currentWidget());
  return tab ? tab->Form() : nullptr;
}

TBaseSheetFrm* TMainForm::AddPage(const TSheetFactory& factory, const QString& caption) {
  auto* tab = new TTabSheetEx(FPages);
  FPages->addTab(tab, SheetImage(0), caption);
  try {
    tab->SetFormClass([&](TTabSheetEx* owner) { return factory(owner, *this); });
  } catch (...) {
    delete tab;
    UpdatePageVisibility();
    throw;
  }
  FPages->setVisible(true);
  FPages->setCurrentWidget(tab);
  ScheduleIdle();
  return tab->Form();
}

void TMainForm::FreePage(int index) {
  delete FPages->widget(index);
  ScheduleIdle();
}

void TMainForm::UpdatePageVisibility() { FPages->setVisible(FPages->count() > 0); }

TBaseSheetFrm* TMainForm::NewMessageSheet() { return AddPage(FMessageFactory, TBaseSheetFrm::Untitled()); }

TBaseSheetFrm* TMainForm::NewFileSheet() { return AddPage(FFileFactory, QStringLiteral("File Validation")); }

void TMainForm::OpenFile(const QString& name) {
  if (name.isEmpty() || !QFileInfo::exists(name))
    throw std::runtime_error("File \"" + name.toStdString() + "\" not found");
  FMruMenu->Add(name);
  TBaseSheetFrm* sheet = NewMessageSheet();
  try {
    sheet->SetFilenameProperty(name);
  } catch (...) {
    // A file that cannot be loaded leaves no empty page behind.
    FreePage(FPages->indexOf(sheet->TabSheet()));
    UpdatePageVisibility();
    throw;
  }
}

void TMainForm::OpenMessageText(const QString& caption, const QString& text) {
  TBaseSheetFrm* sheet = NewMessageSheet();
  if (FMessageTextLoader)
    FMessageTextLoader(sheet, caption, text);
  else
    sheet->SetCaption(caption);
}

void TMainForm::DropFiles(const QStringList& names) {
  for (const QString& name : names) RunCommand([&] { OpenFile(name); });
}

namespace {
// Updates the page area's visibility however a close command ends.
struct TVisibilityGuard {
  std::function<void()> Update;
  ~TVisibilityGuard() { Update(); }
};
}  // namespace

void TMainForm::ClosePage() {
  TVisibilityGuard guard{[this] { UpdatePageVisibility(); }};
  TBaseSheetFrm* sheet = ActiveSheet();
  if (!sheet) return;
  if (sheet->CanClose()) FreePage(FPages->indexOf(sheet->TabSheet()));
}

void TMainForm::CloseAllPages() {
  TVisibilityGuard guard{[this] { UpdatePageVisibility(); }};
  for (int i = FPages->count() - 1; i >= 0; --i) {
    auto* tab = qobject_cast<TTabSheetEx*>(FPages->widget(i));
    if (!tab || !tab->Form() || tab->Form()->CanClose()) FreePage(i);
  }
}

void TMainForm::CloseAllPagesButThis() {
  TVisibilityGuard guard{[this] { UpdatePageVisibility(); }};
  const int active = FPages->currentIndex();
  if (active < 0) return;
  FPages->tabBar()->moveTab(active, 0);
  for (int i = FPages->count() - 1; i >= 1; --i) {
    auto* tab = qobject_cast<TTabSheetEx*>(FPages->widget(i));
    if (!tab || !tab->Form() || tab->Form()->CanClose()) FreePage(i);
  }
}

void TMainForm::ShowTabPopup(const QPoint& globalPos) {
  ScheduleIdle();
  UpdateCommands();
  FTabPopup->popup(globalPos);
}

void TMainForm::RebuildPagesMenu() {
  FPagesMenu->clear();
  for (int i = 0; i < FPages->count(); ++i) {
    auto* tab = qobject_cast<TTabSheetEx*>(FPages->widget(i));
    if (!tab) continue;
    const QString file = tab->Form() ? tab->Form()->Filename() : QString();
    QString caption = FPages->tabText(i) + QStringLiteral(" - ") + file;
    caption.replace(QLatin1Char('&'), QStringLiteral("&&"));
    QAction* a = FPagesMenu->addAction(caption);
    a->setCheckable(true);
    a->setChecked(i == FPages->currentIndex());
    connect(a, &QAction::triggered, this, [this, tab] {
      if (FPages->indexOf(tab) >= 0) FPages->setCurrentWidget(tab);
    });
  }
}

// ---- commands' common handling

void TMainForm::RunCommand(const std::function<void()>& work) {
  try {
    work();
  } catch (const EAbort&) {
    // A sheet ended the command on purpose: nothing to show.
  } catch (const std::exception& e) {
    ShowError(this, QString::fromStdString(e.what()));
  }
  ScheduleIdle();
}

void TMainForm::SetBusy(bool busy) {
  const int before = FBusy;
  FBusy = busy ? FBusy + 1 : std::max(0, FBusy - 1);
  if (before == 0 && FBusy > 0) QApplication::setOverrideCursor(Qt::WaitCursor);
  if (before > 0 && FBusy == 0) QApplication::restoreOverrideCursor();
}

// ---- start-up

void TMainForm::StartReferentialLoad() {
  QApplication::processEvents();
  SetBusy(true);
  setEnabled(false);
  ShowProgress(this, TProgressBarStyle::pbstMarquee, QStringLiteral("Loading Telebib..."), 100, 0);
  try {
    auto* worker = new TReferentialNameWorker(*FHost, FOptions.Factory);
    worker->FreeOnTerminate = true;
    worker->OnTerminate = [this](TWorker& w) { OnReferentialNameWorkerDone(w); };
    worker->Start();
  } catch (const std::exception& e) {
    // The engine could not even be created: the same end as a failing worker.
    SetBusy(false);
    setEnabled(true);
    HideProgress();
    ShowError(this, QString::fromStdString(e.what()));
    FOptions.OnStartupFailed();
  }
}

void TMainForm::OnReferentialNameWorkerDone(TWorker& worker) {
  SetBusy(false);
  setEnabled(true);
  HideProgress();
  if (!worker.LastError().empty()) {
    ShowError(this, QString::fromStdString(worker.LastError()));
    FOptions.OnStartupFailed();
    return;
  }
  const std::string file = static_cast<TReferentialNameWorker&>(worker).ReferentialFilename();
  // Without names the program stays usable: the file sheet shows the raw codes and says why.
  if (file.empty()) {
    FTelebibReason = QStringLiteral("Referential names not available (the referential is not a file)");
  } else {
    try {
      FTelebib->Connect(file);
      FTelebibConnected = true;
    } catch (const std::exception& e) {
      FTelebibReason = QStringLiteral("Referential names not available (%1)").arg(QString::fromStdString(e.what()));
    }
  }
  if (!FTelebibConnected) {
    Warn(FTelebibReason.toStdString());
    FHintPanel->setText(FTelebibReason);
  }
  FStartupDone = true;
  const QStringList files = FOptions.Files;
  FOptions.Files.clear();
  DropFiles(files);
  ScheduleIdle();
  emit StartupFinished();
}

// ---- closing, dropping, about

void TMainForm::closeEvent(QCloseEvent* event) {
  if (Busy()) {
    event->ignore();
    return;
  }
  bool may = true;
  try {
    for (int i = 0; may && i < FPages->count(); ++i) {
      auto* tab = qobject_cast<TTabSheetEx*>(FPages->widget(i));
      may = !tab || !tab->Form() || tab->Form()->CanClose();
    }
  } catch (const EAbort&) {
    may = false;
  } catch (const std::exception& e) {
    ShowError(this, QString::fromStdString(e.what()));
    may = false;
  }
  if (may)
    event->accept();
  else
    event->ignore();
}

void TMainForm::dragEnterEvent(QDragEnterEvent* event) {
  if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void TMainForm::dropEvent(QDropEvent* event) {
  QStringList names;
  for (const QUrl& url : event->mimeData()->urls())
    if (url.isLocalFile()) names << url.toLocalFile();
  event->acceptProposedAction();
  DropFiles(names);
}

void TMainForm::ShowAbout() {
  TAboutBox box(FOptions.Factory, this);
  Dialogs().Exec(box);
}

}  // namespace verimek::ui
