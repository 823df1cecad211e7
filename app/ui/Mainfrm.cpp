// The main window of the desktop program.
#include "Mainfrm.h"

#include <QAction>
#include <QApplication>
#include <QDesktopServices>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QStatusBar>
#include <QTabWidget>
#include <QTimer>
#include <QToolBar>
#include <QUrl>

// The public site of the Telebib2 standard.
static const char* const kTelebibSite = "https://www.telebib2.org";

TMainForm::TMainForm(QWidget* parent) : QMainWindow(parent) {
  setObjectName("MainForm");
  setWindowTitle("Verimek");
  resize(900, 640);
  FPages = new QTabWidget(this);
  FPages->setVisible(false);
  setCentralWidget(FPages);
  CreateCommands();
  CreateMenus();

  FCaretPanel = new QLabel("0:0", this);
  FCaretPanel->setAlignment(Qt::AlignCenter);
  FCaretPanel->setMinimumWidth(50);
  FHintPanel = new QLabel(this);
  statusBar()->addWidget(FCaretPanel);
  statusBar()->addWidget(FHintPanel, 1);

  // The idle pass of the command enabling rules.
  auto* idle = new QTimer(this);
  connect(idle, &QTimer::timeout, this, &TMainForm::UpdateCommands);
  idle->start(200);
  UpdateCommands();
}

QAction* TMainForm::AddCommand(const QString& caption, const QString& hint, const QKeySequence& shortcut) {
  auto* a = new QAction(caption, this);
  // Hints are "short|long": the short part is the tooltip, the long part goes to status panel 1.
  int bar = hint.indexOf('|');
  a->setToolTip(bar < 0 ? hint : hint.left(bar));
  a->setStatusTip(bar < 0 ? hint : hint.mid(bar + 1));
  if (!shortcut.isEmpty()) a->setShortcut(shortcut);
  connect(a, &QAction::hovered, this, [this, a] { FHintPanel->setText(a->statusTip()); });
  return a;
}

void TMainForm::CreateCommands() {
  AcFileNew = AddCommand("New...", "New|New empty message", QKeySequence("Ctrl+N"));
  AcFileOpen = AddCommand("Open...", "Open|Open file", QKeySequence("Ctrl+O"));
  AcFileSave = AddCommand("Save", "Save|Save current message", QKeySequence("Ctrl+S"));
  AcFileSaveAs = AddCommand("Save as...", "Save as|Save current message with another name");
  AcPageClose = AddCommand("Close page", "Close|Close current page");
  AcPageCloseAll = AddCommand("Close all pages", "Close All|Close all pages");
  AcPageCloseAllButThis = AddCommand("Close all pages but this", "Close all but this");
  AcFileExit = AddCommand("Exit", "Exit|Exit the application", QKeySequence("Alt+F4"));
  AcEditCut = AddCommand("Cut", "Cut|Cut current selection and copy to clipboard", QKeySequence("Ctrl+X"));
  AcEditCopy = AddCommand("Copy", "Copy|Copy current selection to clipboard", QKeySequence("Ctrl+C"));
  AcEditPaste = AddCommand("Paste", "Paste|Paste clipboard text to current message", QKeySequence("Ctrl+V"));
  AcEditDelete = AddCommand("Delete", "Delete|Delete selected text in current message");
  AcEditUndo = AddCommand("Undo", "Undo|Undo last action", QKeySequence("Ctrl+Z"));
  AcEditSelectAll = AddCommand("Select all", "Select All|Select all text in current message", QKeySequence("Ctrl+A"));
  AcEditSearch = AddCommand("Search...", "Search|Search text in current message", QKeySequence("Ctrl+F"));
  AcEditSearchNext =
      AddCommand("Search next", "Search next|Search next text occurrence in current message", QKeySequence("F3"));
  AcEdifactValidate = AddCommand("Validate", "Validate|Validate edifact message(s)", QKeySequence("F9"));
  AcEdifactValidateFile = AddCommand("Validate File...", "Validate File|Validate all messages in a file");
  AcEdifactIndent = AddCommand("Indent", "Indent|Indent current message");
  AcEdifactUnindent = AddCommand("Unindent", "Unindent|Unindent current message");
  AcEdifactGotoSegment = AddCommand("Goto segment...", "Goto segment|Select segment in current message");
  AcHelpTelebib2 = AddCommand(kTelebibSite, kTelebibSite);
  AcHelpAbout = AddCommand("About...", "About|Show about dialog");

  FSheetCommands = {AcFileSave,        AcFileSaveAs,    AcEditCut,         AcEditCopy,          AcEditPaste,
                    AcEditDelete,      AcEditUndo,      AcEditSelectAll,   AcEditSearch,        AcEditSearchNext,
                    AcEdifactValidate, AcEdifactIndent, AcEdifactUnindent, AcEdifactGotoSegment};

  connect(AcFileExit, &QAction::triggered, this, &QWidget::close);
  connect(AcHelpTelebib2, &QAction::triggered, this, [] { QDesktopServices::openUrl(QUrl(kTelebibSite)); });
  connect(AcHelpAbout, &QAction::triggered, this, &TMainForm::ShowAbout);
}

void TMainForm::CreateMenus() {
  QMenu* file = menuBar()->addMenu("&File");
  file->setStatusTip("File related commands");
  file->addActions({AcFileNew, AcFileOpen, AcFileSave, AcFileSaveAs});
  file->addSeparator();
  file->addActions({AcPageClose, AcPageCloseAll, AcPageCloseAllButThis});
  file->addSeparator();
  file->addAction(AcFileExit);

  QMenu* edit = menuBar()->addMenu("&Edit");
  edit->addActions({AcEditCut, AcEditCopy, AcEditPaste});
  edit->addSeparator();
  edit->addAction(AcEditSearch);

  QMenu* edifact = menuBar()->addMenu("Edifact");
  edifact->addActions({AcEdifactValidate, AcEdifactValidateFile});
  edifact->addSeparator();
  edifact->addActions({AcEdifactIndent, AcEdifactUnindent});
  edifact->addSeparator();
  edifact->addAction(AcEdifactGotoSegment);

  QMenu* help = menuBar()->addMenu("&Help");
  help->setStatusTip("Help topics");
  help->addAction(AcHelpTelebib2);
  help->addSeparator();
  help->addAction(AcHelpAbout);

  QToolBar* tb = addToolBar("Main");
  tb->addActions({AcFileNew, AcFileOpen, AcEdifactValidateFile});
  tb->addSeparator();
  tb->addActions({AcFileSave, AcFileSaveAs});
  tb->addSeparator();
  tb->addActions({AcEditCut, AcEditCopy, AcEditPaste, AcEditDelete});
  tb->addSeparator();
  tb->addActions({AcEditSearch, AcEditSearchNext});
  tb->addSeparator();
  tb->addActions({AcEdifactIndent, AcEdifactUnindent});
  tb->addSeparator();
  tb->addAction(AcEdifactValidate);
}

void TMainForm::UpdateCommands() {
  bool pages = FPages->isVisible() && FPages->count() > 0;
  // No sheet kinds exist yet: every sheet command answers false.
  for (QAction* a : FSheetCommands) a->setEnabled(false);
  AcPageClose->setEnabled(pages);
  AcPageCloseAll->setEnabled(pages && FPages->count() > 1);
  AcPageCloseAllButThis->setEnabled(pages && FPages->count() > 1);
  FCaretPanel->setText(pages ? "0:0" : "");
}

void TMainForm::ShowAbout() { QMessageBox::about(this, "About", QString("Verimek\n%1").arg(VERIMEK_VERSION)); }
