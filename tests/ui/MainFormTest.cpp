// The main window headless: commands and their enabling rules, pages and their closing rules,
// recent files, drops, the start-up load, the window position, the about box; every box and
// dialog answered through the seam.
#include <dlfcn.h>
#include <edicom/EdiComCpp.h>

#include <QAction>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPushButton>
#include <QStatusBar>
#include <QTabBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>
#include <QUrl>
#include <QtTest>
#include <cstdlib>
#include <fstream>
#include <memory>

#include "../app/FakeEngine.h"
#include "EdiEditor.h"
#include "Mainfrm.h"
#include "MruPopupMenu.h"
#include "ProgressFrm.h"
#include "Settings.h"
#include "SheetFile.h"
#include "SheetMessage.h"
#include "Sheets.h"
#include "TestDialogs.h"
#include "UTelebib.h"
#include "evAboutDlg.h"
#include "registry/Registry.h"

using namespace verimek;
using namespace verimek::ui;

namespace {

const QString kBin = QStringLiteral(EDI_BINARY_DIR);

// A sheet whose answers the test sets, recording what the window asked of it.
class TTestSheet final : public TBaseSheetFrm {
 public:
  TTestSheet(TTabSheetEx* owner, TAppServices& app) : TBaseSheetFrm(owner, app) {}
  bool CanCopy() override { return Copyable; }
  bool CanSave() override { return Saveable; }
  bool CanClose() override {
    ++CloseAsked;
    if (AbortClose) throw EAbort();
    return Closable;
  }
  QString GetCaretPos() override { return Caret; }
  void SetFilename(const QString& name) override {
    if (name.endsWith(QStringLiteral(".broken"))) throw std::runtime_error("cannot read " + name.toStdString());
    TBaseSheetFrm::SetFilename(name);
    SetCaption(QFileInfo(name).fileName());
  }
  void Copy() override { ++Copied; }
  void ContextPopupMenu(const QString& Code, const QString& Data) override {
    Context << Code + QLatin1Char('/') + Data;
  }

  bool Copyable = false, Saveable = false, Closable = true, AbortClose = false;
  int CloseAsked = 0, Copied = 0;
  QStringList Context;
  QString Caret = QStringLiteral("1:1");
};

bool RegisterLibrary(const QString& name) {
  const QString lib = kBin + QStringLiteral("/lib/") + name;
  void* h = QFile::exists(lib) ? dlopen(lib.toLocal8Bit().constData(), RTLD_NOW | RTLD_LOCAL) : nullptr;
  auto reg = h ? reinterpret_cast<edicom::HRESULT (*)()>(dlsym(h, "DllRegisterServer")) : nullptr;
  return reg && edicom::SUCCEEDED(reg());
}

TComponentFactory FakeFactory() {
  return {[] { return fake::NewDocument(nullptr); }, [] { return fake::NewMessage(nullptr); }};
}

}  // namespace

class MainFormTest : public QObject {
  Q_OBJECT

  QTemporaryDir FDir;
  bool FRegistered = false;
  int FKeyNo = 0;

  QString MakeFile(const QString& name) {
    const QString path = FDir.filePath(name);
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write("XGH+1'");
    return path;
  }

  // A window on a fresh recent-files key, with test sheets, without the start-up load.
  std::unique_ptr<TMainForm> NewForm(TMainFormOptions options = {}) {
    options.MruKey = "Software\\Solberk\\VerimekUiTest\\" + std::to_string(++FKeyNo);
    if (!options.Factory.CreateDocument) options.Factory = FakeFactory();
    if (options.PostStart) options.PostStart = false;
    auto form = std::make_unique<TMainForm>(options);
    TSheetFactory sheet = [](TTabSheetEx* owner, TAppServices& app) { return new TTestSheet(owner, app); };
    form->SetSheetFactories(sheet, sheet);
    return form;
  }

  static TTestSheet* Sheet(TMainForm& form, int index) {
    auto* tab = qobject_cast<TTabSheetEx*>(form.PageControl()->widget(index));
    return tab ? static_cast<TTestSheet*>(tab->Form()) : nullptr;
  }

  static QStringList Mru(TMainForm& form) {
    QStringList out;
    for (const std::string& s : form.MruMenu()->List().Items()) out << QString::fromStdString(s);
    return out;
  }

  static QStringList TabTexts(TMainForm& form) {
    QStringList out;
    for (int i = 0; i < form.PageControl()->count(); ++i) out << form.PageControl()->tabText(i);
    return out;
  }

 private slots:
  void initTestCase() {
    QVERIFY(FDir.isValid());
    qputenv("XDG_CONFIG_HOME", FDir.filePath(QStringLiteral("config")).toLocal8Bit());
    qputenv("TARNHOLT_MACHINE_HIVE", FDir.filePath(QStringLiteral("machine.reg")).toLocal8Bit());
    qputenv("TARNHOLT_USER_HIVE", FDir.filePath(QStringLiteral("user.reg")).toLocal8Bit());
    common::TRegistry reg(common::HKEY_LOCAL_MACHINE);
    QVERIFY(reg.OpenKey("SOFTWARE\\tarnholt\\services\\Database", true));
    reg.WriteString("Referential", (kBin + QStringLiteral("/data/referential.db")).toStdString());
    FRegistered = RegisterLibrary(QStringLiteral("libkalvix.so")) && RegisterLibrary(QStringLiteral("libruvala.so"));
    CoInitialize(nullptr);
  }

  void cleanupTestCase() { CoUninitialize(); }

  void init() { ResetSettings(); }

  void CommandsCaptionsShortcutsAndHints() {
    test::TScriptedDialogs dialogs;
    auto form = NewForm();
    struct TCase {
      const char *Name, *Caption, *Shortcut, *Tip, *Status;
    };
    const TCase cases[] = {
        {"AcFileNew", "New...", "Ctrl+N", "New", "New empty message"},
        {"AcFileOpen", "Open...", "Ctrl+O", "Open", "Open file"},
        {"AcFileSave", "Save", "Ctrl+S", "Save", "Save current message"},
        {"AcFileSaveAs", "Save as...", "", "Save as", "Save current message with another name"},
        {"AcPageClose", "Close page", "", "Close", "Close current page"},
        {"AcPageCloseAll", "Close all pages", "", "Close All", "Close all pages"},
        {"AcPageCloseAllButThis", "Close all pages but this", "", "Close all but this", "Close all but this"},
        {"AcFileExit", "Exit", "Alt+F4", "Exit", "Exit the application"},
        {"AcEditCut", "Cut", "Ctrl+X", "Cut", "Cut current selection and copy to clipboard"},
        {"AcEditCopy", "Copy", "Ctrl+C", "Copy", "Copy current selection to clipboard"},
        {"AcEditPaste", "Paste", "Ctrl+V", "Paste", "Paste clipboard text to current message"},
        {"AcEditDelete", "Delete", "", "Delete", "Delete selected text in current message"},
        {"AcEditUndo", "Undo", "Ctrl+Z", "Undo", "Undo last action"},
        {"AcEditSelectAll", "Select all", "Ctrl+A", "Select All", "Select all text in current message"},
        {"AcEditSearch", "Search...", "Ctrl+F", "Search", "Search text in current message"},
        {"AcEditSearchNext", "Search next", "F3", "Search next", "Search next text occurrence in current message"},
        {"AcEdifactValidate", "Validate", "F9", "Validate", "Validate edifact message(s)"},
        {"AcEdifactValidateFile", "Validate File...", "", "Validate File", "Validate all messages in a file"},
        {"AcEdifactIndent", "Indent", "", "Indent", "Indent current message"},
        {"AcEdifactUnindent", "Unindent", "", "Unindent", "Unindent current message"},
        {"AcEdifactGotoSegment", "Goto segment...", "", "Goto segment", "Select segment in current message"},
        {"AcHelpAbout", "About...", "", "About", "Show about dialog"},
        {"AcContext_E0005", "Show syntax errors", "", "Show syntax errors", "Show syntax errors"},
    };
    for (const TCase& c : cases) {
      QAction* a = form->Command(QString::fromLatin1(c.Name));
      QVERIFY2(a, c.Name);
      QCOMPARE(a->text(), QString::fromLatin1(c.Caption));
      QCOMPARE(a->shortcut(), QKeySequence(QString::fromLatin1(c.Shortcut)));
      QCOMPARE(a->toolTip(), QString::fromLatin1(c.Tip));
      QCOMPARE(a->statusTip(), QString::fromLatin1(c.Status));
    }
    QCOMPARE(form->Command(QStringLiteral("AcHelpTelebib2"))->text(), QStringLiteral("https://www.telebib2.org"));
    QVERIFY(form->Command(QStringLiteral("NoSuchCommand")) == nullptr);
    form->Command(QStringLiteral("AcFileOpen"))->hover();
    QCOMPARE(form->HintPanel()->text(), QStringLiteral("Open file"));
  }

  void MenusAndToolbarInTheirOrder() {
    auto form = NewForm();
    auto captions = [](const QList<QAction*>& actions) {
      QStringList out;
      for (QAction* a : actions) out << (a->isSeparator() ? QStringLiteral("-") : a->text());
      return out;
    };
    QStringList menus;
    QList<QStringList> entries;
    for (QAction* m : form->menuBar()->actions()) {
      menus << m->text();
      entries << captions(m->menu()->actions());
    }
    QCOMPARE(menus, (QStringList{"&File", "&Edit", "Edifact", "&Help"}));
    QCOMPARE(entries[0], (QStringList{"New...", "Open...", "Save", "Save as...", "-", "Close page", "Close all pages",
                                      "Close all pages but this", "-", "Exit"}));
    QCOMPARE(entries[1], (QStringList{"Cut", "Copy", "Paste", "-", "Search..."}));
    QCOMPARE(entries[2],
             (QStringList{"Validate", "Validate File...", "-", "Indent", "Unindent", "-", "Goto segment..."}));
    QCOMPARE(entries[3], (QStringList{"https://www.telebib2.org", "-", "About..."}));
    QCOMPARE(form->menuBar()->actions()[0]->statusTip(), QStringLiteral("File related commands"));
    QCOMPARE(form->menuBar()->actions()[3]->statusTip(), QStringLiteral("Help topics"));
    QCOMPARE(
        captions(form->ToolBar()->actions()),
        (QStringList{"New...", "Open...", "Validate File...", "-", "Save", "Save as...", "-", "Cut", "Copy", "Paste",
                     "Delete", "-", "Search...", "Search next", "-", "Indent", "Unindent", "-", "Validate"}));
    auto* open =
        qobject_cast<QToolButton*>(form->ToolBar()->widgetForAction(form->Command(QStringLiteral("AcFileOpen"))));
    QVERIFY(open);
    QCOMPARE(open->menu(), static_cast<QMenu*>(form->MruMenu()));
    QCOMPARE(captions(form->TabPopupMenu()->actions()),
             (QStringList{"Close page", "Close all pages", "Close all pages but this", "-", "Pages"}));
  }

  void EnablingRulesFollowThePages() {
    test::TScriptedDialogs dialogs;
    auto form = NewForm();
    form->show();
    form->UpdateCommands();
    const QStringList always{"AcFileNew",  "AcFileOpen",  "AcEdifactValidateFile",
                             "AcFileExit", "AcHelpAbout", "AcHelpTelebib2"};
    const QStringList sheetCommands{"AcFileSave",        "AcFileSaveAs",         "AcEditCut",         "AcEditCopy",
                                    "AcEditPaste",       "AcEditDelete",         "AcEditUndo",        "AcEditSelectAll",
                                    "AcEditSearch",      "AcEditSearchNext",     "AcEdifactValidate", "AcEdifactIndent",
                                    "AcEdifactUnindent", "AcEdifactGotoSegment", "AcPageClose"};
    auto enabled = [&](const QString& n) { return form->Command(n)->isEnabled(); };
    for (const QString& n : always) QVERIFY2(enabled(n), qPrintable(n));
    for (const QString& n : sheetCommands) QVERIFY2(!enabled(n), qPrintable(n));
    QCOMPARE(form->CaretPanel()->text(), QString());
    QVERIFY(form->PageControl()->isHidden());

    form->NewMessageSheet();
    form->UpdateCommands();
    QVERIFY(enabled(QStringLiteral("AcPageClose")));
    QVERIFY(!enabled(QStringLiteral("AcPageCloseAll")));
    QVERIFY(!enabled(QStringLiteral("AcPageCloseAllButThis")));
    QVERIFY(!enabled(QStringLiteral("AcEditCopy")));
    QCOMPARE(form->CaretPanel()->text(), QStringLiteral("1:1"));
    QVERIFY(form->CaretPanel()->minimumWidth() >= 50);

    // The idle pass follows a change of the sheet's answers after the next events.
    TTestSheet* sheet = Sheet(*form, 0);
    sheet->Copyable = true;
    sheet->Caret = QStringLiteral("12345:67890 with a long caret text");
    QTest::mouseClick(form->PageControl(), Qt::LeftButton);
    QTRY_VERIFY(enabled(QStringLiteral("AcEditCopy")));
    QTRY_COMPARE(form->CaretPanel()->text(), sheet->Caret);
    QVERIFY(form->CaretPanel()->minimumWidth() >= form->CaretPanel()->fontMetrics().horizontalAdvance(sheet->Caret));
    QVERIFY(!enabled(QStringLiteral("AcFileSave")));
    form->Command(QStringLiteral("AcEditCopy"))->trigger();
    QCOMPARE(sheet->Copied, 1);

    form->NewMessageSheet();
    form->UpdateCommands();
    QVERIFY(enabled(QStringLiteral("AcPageCloseAll")));
    QVERIFY(enabled(QStringLiteral("AcPageCloseAllButThis")));
    QVERIFY(!enabled(QStringLiteral("AcEditCopy")));  // the new active sheet answers false
    QVERIFY(dialogs.Boxes.empty());
  }

  void TheIdlePassRunsOncePerBurstAndNotOnATimer() {
    auto form = NewForm();
    form->show();
    // Showing the window brings its own events; once they are over no pass runs by itself.
    int settled = -1;
    for (int tries = 0; tries < 20 && settled != form->IdlePasses(); ++tries) {
      settled = form->IdlePasses();
      QTest::qWait(300);
    }
    QCOMPARE(form->IdlePasses(), settled);
    for (int i = 0; i < 5; ++i) {
      QKeyEvent key(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, QStringLiteral("a"));
      QApplication::sendEvent(form->PageControl(), &key);
    }
    QCOMPARE(form->IdlePasses(), settled);  // not during the burst
    QTRY_COMPARE(form->IdlePasses(), settled + 1);
    QTest::qWait(200);
    QCOMPARE(form->IdlePasses(), settled + 1);
  }

  void ClosingPagesAndTheirRules() {
    test::TScriptedDialogs dialogs;
    auto form = NewForm();
    form->NewMessageSheet();
    form->Command(QStringLiteral("AcPageClose"))->trigger();
    QCOMPARE(form->PageControl()->count(), 0);
    QVERIFY(form->PageControl()->isHidden());
    form->Command(QStringLiteral("AcFileNew"))->trigger();
    QVERIFY(!form->PageControl()->isHidden());
    QCOMPARE(TabTexts(*form), QStringList{"[Untitled]"});

    // Close all: from the last to the first; a refusing sheet stays, an aborting one ends it.
    for (int i = 0; i < 4; ++i) form->NewMessageSheet();
    for (int i = 0; i < 5; ++i) Sheet(*form, i)->setObjectName(QString::number(i));
    Sheet(*form, 1)->Closable = false;
    Sheet(*form, 3)->AbortClose = true;
    form->Command(QStringLiteral("AcPageCloseAll"))->trigger();
    QStringList left;
    for (int i = 0; i < form->PageControl()->count(); ++i) left << Sheet(*form, i)->objectName();
    QCOMPARE(left, (QStringList{"0", "1", "2", "3"}));
    QVERIFY(dialogs.Boxes.empty());
    Sheet(*form, 3)->AbortClose = false;
    form->Command(QStringLiteral("AcPageCloseAll"))->trigger();
    QCOMPARE(form->PageControl()->count(), 1);
    QCOMPARE(Sheet(*form, 0)->objectName(), QStringLiteral("1"));
    QVERIFY(!form->PageControl()->isHidden());

    // All but this: the active page moves first, the others close from the last.
    Sheet(*form, 0)->Closable = true;
    for (int i = 0; i < 3; ++i) form->NewMessageSheet();
    for (int i = 0; i < 4; ++i) Sheet(*form, i)->setObjectName(QStringLiteral("p%1").arg(i));
    form->PageControl()->setCurrentIndex(2);
    form->Command(QStringLiteral("AcPageCloseAllButThis"))->trigger();
    QCOMPARE(form->PageControl()->count(), 1);
    QCOMPARE(Sheet(*form, 0)->objectName(), QStringLiteral("p2"));
    form->Command(QStringLiteral("AcPageClose"))->trigger();
    QVERIFY(form->PageControl()->isHidden());
  }

  void OpenFileRecentListAndItsSwap() {
    test::TScriptedDialogs dialogs;
    auto form = NewForm();
    const QString a = MakeFile(QStringLiteral("a.edi"));
    form->OpenFile(a);
    form->OpenFile(a);
    QCOMPARE(form->PageControl()->count(), 2);
    QCOMPARE(TabTexts(*form), (QStringList{"a.edi", "a.edi"}));
    QCOMPARE(Mru(*form), QStringList{a});
    QCOMPARE(form->PageControl()->currentIndex(), 1);
    QCOMPARE(Sheet(*form, 1)->Filename(), a);

    QStringList names;
    for (const char* n : {"e.edi", "d.edi", "c.edi", "b.edi"}) {
      names.prepend(MakeFile(QString::fromLatin1(n)));
      form->OpenFile(names.front());
    }
    QCOMPARE(Mru(*form), (QStringList{names[0], names[1], names[2], names[3], a}));
    // The drop-down is rebuilt when it opens; choosing position 3 opens it and swaps it with 0.
    form->MruMenu()->Rebuild();
    QList<QAction*> entries = form->MruMenu()->actions();
    QCOMPARE(entries.size(), 5);
    QCOMPARE(entries[3]->text(), names[3]);
    const int pages = form->PageControl()->count();
    entries[3]->trigger();
    QCOMPARE(form->PageControl()->count(), pages + 1);
    QCOMPARE(Mru(*form), (QStringList{names[3], names[1], names[2], names[0], a}));

    // A missing file: the text, no page, the list unchanged; a file the sheet cannot load
    // leaves no page either.
    const QString missing = FDir.filePath(QStringLiteral("missing.edi"));
    dialogs.OpenAnswers.push_back({missing});
    form->Command(QStringLiteral("AcFileOpen"))->trigger();
    QCOMPARE(dialogs.Texts().last(), QStringLiteral("File \"%1\" not found").arg(missing));
    QCOMPARE(dialogs.Boxes.back().Type, TMsgDlgType::mtError);
    QCOMPARE(form->PageControl()->count(), pages + 1);
    QCOMPARE(Mru(*form).size(), 5);
    const QString broken = MakeFile(QStringLiteral("x.broken"));
    dialogs.OpenAnswers.push_back({broken});
    form->Command(QStringLiteral("AcFileOpen"))->trigger();
    QCOMPARE(dialogs.Texts().last(), QStringLiteral("cannot read %1").arg(broken));
    QCOMPARE(form->PageControl()->count(), pages + 1);

    // The open dialog of the design; of the files chosen, the first opens.
    QCOMPARE(dialogs.OpenDialogs.back().Title, QStringLiteral("Open..."));
    QCOMPARE(dialogs.OpenDialogs.back().Filter, QStringLiteral("All files|*.*"));
    QVERIFY(dialogs.OpenDialogs.back().MultiSelect);
    dialogs.OpenAnswers.push_back({names[0], a});
    form->Command(QStringLiteral("AcFileOpen"))->trigger();
    QCOMPARE(form->PageControl()->count(), pages + 2);
    QCOMPARE(Sheet(*form, pages + 1)->Filename(), names[0]);

    form->ExecuteSaveDialog(QStringLiteral("m.txt"));
    QCOMPARE(dialogs.SaveDialogs.back().Title, QStringLiteral("Save..."));
    QCOMPARE(dialogs.SaveDialogs.back().DefaultExt, QStringLiteral("txt"));
    QCOMPARE(dialogs.SaveDialogs.back().Filter, QStringLiteral("Text files|*.txt|Edifact files|*.edi|All files|*.*"));
    QCOMPARE(dialogs.SaveDialogs.back().FileName, QStringLiteral("m.txt"));
  }

  void RecentFilesSurviveARestartWithoutDeletedOnes() {
    const QString keep = MakeFile(QStringLiteral("keep.edi")), gone = MakeFile(QStringLiteral("gone.edi"));
    std::string key;
    {
      auto form = NewForm();
      key = form->MruMenu()->List().Key();
      form->OpenFile(gone);
      form->OpenFile(keep);
    }
    QFile::remove(gone);
    TMainFormOptions options;
    options.MruKey = key;
    options.Factory = FakeFactory();
    options.PostStart = false;
    TMainForm next(options);
    QCOMPARE(Mru(next), QStringList{keep});
  }

  void DroppedFilesOpenInOrder() {
    test::TScriptedDialogs dialogs;
    auto form = NewForm();
    form->show();
    const QString one = MakeFile(QStringLiteral("one.edi")), two = MakeFile(QStringLiteral("two.edi")),
                  three = MakeFile(QStringLiteral("three.edi"));
    const QString none = FDir.filePath(QStringLiteral("none.edi"));
    QMimeData mime;
    mime.setUrls(
        {QUrl::fromLocalFile(three), QUrl::fromLocalFile(none), QUrl::fromLocalFile(one), QUrl::fromLocalFile(two)});
    QDragEnterEvent enter(QPoint(50, 50), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(form.get(), &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(QPointF(50, 50), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(form.get(), &drop);
    QCOMPARE(TabTexts(*form), (QStringList{"three.edi", "one.edi", "two.edi"}));
    QCOMPARE(dialogs.Texts(), QStringList{QStringLiteral("File \"%1\" not found").arg(none)});
  }

  void TabPopupListsThePagesAndActivatesOne() {
    auto form = NewForm();
    const QString a = MakeFile(QStringLiteral("pa.edi"));
    form->OpenFile(a);
    form->NewMessageSheet();
    QMenu* pages = form->PagesMenu();
    emit pages->aboutToShow();
    const QList<QAction*> entries = pages->actions();
    QCOMPARE(entries.size(), 2);
    QCOMPARE(entries[0]->text(), QStringLiteral("pa.edi - ") + a);
    QCOMPARE(entries[1]->text(), QStringLiteral("[Untitled] - [Untitled]"));
    QVERIFY(!entries[0]->isChecked());
    QVERIFY(entries[1]->isChecked());
    entries[0]->trigger();
    QCOMPARE(form->PageControl()->currentIndex(), 0);
    QVERIFY(form->PageControl()->isMovable());
  }

  void BusyCountsAndShowsTheWaitCursor() {
    auto form = NewForm();
    QVERIFY(!form->Busy());
    form->SetBusy(true);
    form->SetBusy(true);
    form->SetBusy(false);
    QVERIFY(form->Busy());
    QVERIFY(QApplication::overrideCursor() && QApplication::overrideCursor()->shape() == Qt::WaitCursor);
    form->SetBusy(false);
    QVERIFY(!form->Busy());
    QVERIFY(QApplication::overrideCursor() == nullptr);
    form->SetBusy(false);  // never below zero
    form->SetBusy(true);
    QVERIFY(form->Busy());
    form->SetBusy(false);
  }

  void StartUpLoadConnectsTheNamesAndOpensTheFiles() {
    if (!FRegistered) QSKIP("components not built");
    test::TScriptedDialogs dialogs;
    TMainFormOptions options;
    options.Factory = TComponentFactory::ByClassId();
    options.Files = {MakeFile(QStringLiteral("first.edi")), MakeFile(QStringLiteral("second.edi"))};
    bool failed = false;
    options.OnStartupFailed = [&] { failed = true; };
    auto form = NewForm(options);
    form->show();
    form->StartReferentialLoad();
    // While the load runs: busy, disabled, the overlay, and the window refuses to close.
    QVERIFY(form->Busy());
    QVERIFY(!form->isEnabled());
    QVERIFY(ProgressFrm() && ProgressFrm()->isVisible());
    QCOMPARE(ProgressFrm()->StatusLine()->text(), QStringLiteral("Loading Telebib..."));
    QVERIFY(!form->close());
    QVERIFY(form->isVisible());
    QTRY_VERIFY(form->StartupDone());
    QVERIFY(!form->Busy());
    QVERIFY(form->isEnabled());
    QVERIFY(!ProgressFrm()->isVisible());
    QVERIFY(!failed);
    QVERIFY(form->Telebib() != nullptr);
    QCOMPARE(form->TelebibUnavailableReason(), QString());
    QVERIFY(!form->Telebib()->X912ToStr(1).empty());
    QCOMPARE(TabTexts(*form), (QStringList{"first.edi", "second.edi"}));
    QVERIFY(dialogs.Boxes.empty());
    QVERIFY(form->close());
  }

  void StartUpFailuresAndNamesThatCannotConnect() {
    test::TScriptedDialogs dialogs;
    // The engine names a file that is not there: the program opens, without names.
    {
      TMainFormOptions options;
      options.Factory = FakeFactory();
      bool failed = false;
      options.OnStartupFailed = [&] { failed = true; };
      auto form = NewForm(options);
      form->StartReferentialLoad();
      QTRY_VERIFY(form->StartupDone());
      QVERIFY(!failed);
      QVERIFY(form->Telebib() == nullptr);
      QVERIFY2(form->TelebibUnavailableReason().startsWith(QStringLiteral("Referential names not available (")),
               qPrintable(form->TelebibUnavailableReason()));
      QVERIFY(form->isEnabled());
      QVERIFY(dialogs.Boxes.empty());
    }
    // No engine: the worker's error is shown and the program ends.
    {
      TMainFormOptions options;
      options.Factory.CreateDocument = [] { return edicom::ComPtr<ruvala::IEdiDocument>(); };
      int failed = 0;
      options.OnStartupFailed = [&] { ++failed; };
      auto form = NewForm(options);
      form->StartReferentialLoad();
      QTRY_COMPARE(failed, 1);
      QVERIFY(!form->StartupDone());
      QVERIFY(!form->Busy());
      QCOMPARE(dialogs.Boxes.size(), std::size_t{1});
      QCOMPARE(dialogs.Boxes[0].Type, TMsgDlgType::mtError);
      QVERIFY2(dialogs.Boxes[0].Text.contains(QStringLiteral("No EdiDocument")), qPrintable(dialogs.Boxes[0].Text));
    }
  }

  void ClosingTheWindowAsksEveryPage() {
    auto form = NewForm();
    form->show();
    form->NewMessageSheet();
    form->NewMessageSheet();
    form->NewMessageSheet();
    Sheet(*form, 1)->Closable = false;
    QVERIFY(!form->close());
    QCOMPARE(Sheet(*form, 0)->CloseAsked, 1);
    QCOMPARE(Sheet(*form, 2)->CloseAsked, 0);  // refused at the first that said no
    Sheet(*form, 1)->Closable = true;
    Sheet(*form, 2)->AbortClose = true;
    QVERIFY(!form->close());
    Sheet(*form, 2)->AbortClose = false;
    QVERIFY(form->close());
  }

  void WindowPositionAcrossStarts() {
    const QString ini = FDir.filePath(QStringLiteral("config/Solberk/Verimek/Verimek.ini"));
    QFile::remove(ini);
    {
      auto form = NewForm();
      form->move(30, 40);
      form->resize(700, 500);
    }
    ResetSettings();
    QCOMPARE(Settings().ReadIntegerDef("MainForm", "WindowState", -1), 0);
    QCOMPARE(QString::fromStdString(Settings().ReadStringDef("MainForm", "Pos", "")), QStringLiteral("40,30,500,700"));
    {
      auto form = NewForm();
      QCOMPARE(form->size(), QSize(700, 500));
      form->showMaximized();
      QVERIFY(form->isMaximized());
    }
    ResetSettings();
    QCOMPARE(Settings().ReadIntegerDef("MainForm", "WindowState", -1), 2);
    QCOMPARE(QString::fromStdString(Settings().ReadStringDef("MainForm", "Pos", "")), QStringLiteral("40,30,500,700"));
    auto form = NewForm();
    QVERIFY(form->windowState() & Qt::WindowMaximized);
    // A malformed Pos keeps the values that are not numbers.
    form.reset();
    ResetSettings();
    Settings().WriteInteger("MainForm", "WindowState", 0);
    Settings().WriteString("MainForm", "Pos", "x,60,y,800");
    auto again = NewForm();
    QCOMPARE(again->width(), 800);
    QCOMPARE(again->x(), 60);
  }

  void AboutBoxListsTheModules() {
    if (!FRegistered) QSKIP("components not built");
    const TComponentFactory factory = TComponentFactory::ByClassId();
    TAboutBox box(factory, nullptr, (kBin + QStringLiteral("/bin/verimek")).toStdString());
    QCOMPARE(box.windowTitle(), QStringLiteral("About"));
    QCOMPARE(box.ProductName()->text(), QStringLiteral("Verimek"));
    QVERIFY(box.ProductName()->font().bold());
    QVERIFY(box.OkButton()->isDefault());
    box.Fill();
    QTreeWidget* list = box.lv_Modules();
    QCOMPARE(list->columnCount(), 3);
    QCOMPARE(list->headerItem()->text(1), QStringLiteral("Path"));
    QCOMPARE(list->topLevelItemCount(), 4);
    QStringList names;
    for (int i = 0; i < 4; ++i) names << list->topLevelItem(i)->text(0);
    QCOMPARE(names, (QStringList{"libkalvix.so", "libruvala.so", "libsqlite3.so.0", "Referential"}));
    QCOMPARE(list->topLevelItem(0)->text(2), QStringLiteral("1.0.0.0"));
    QCOMPARE(list->topLevelItem(3)->text(1), kBin + QStringLiteral("/data/referential.db"));
    QCOMPARE(list->topLevelItem(3)->text(2), QStringLiteral("2.02.611.01"));
    if (QFile::exists(kBin + QStringLiteral("/bin/verimek"))) {
      QCOMPARE(box.st_Version()->text(), QStringLiteral("1.0.0.0"));
      QTest::mouseDClick(box.st_Version(), Qt::LeftButton);
      QCOMPARE(box.st_Version()->text(), QStringLiteral("Telebib2 EDIFACT message validator for the desktop"));
    }
    TAboutBox missing(factory, nullptr, "/nonexistent/verimek");
    missing.Fill();
    QCOMPARE(missing.st_Version()->text(), QStringLiteral("File not found"));
    QTest::mouseDClick(missing.st_Version(), Qt::LeftButton);
    QCOMPARE(missing.st_Version()->text(), QStringLiteral("File not found"));

    // The command shows it through the seam.
    test::TScriptedDialogs dialogs;
    auto form = NewForm();
    int rows = -1;
    dialogs.ExecAnswers.push_back([&](QDialog& d) {
      auto* about = qobject_cast<TAboutBox*>(&d);
      if (!about) return int(QDialog::Rejected);
      about->Fill();
      rows = about->lv_Modules()->topLevelItemCount();
      return int(QDialog::Accepted);
    });
    form->Command(QStringLiteral("AcHelpAbout"))->trigger();
    QCOMPARE(dialogs.Executed, QStringList{"About"});
    QCOMPARE(rows, 4);
  }

  void ContextCommandReachesTheSheet() {
    auto form = NewForm();
    form->NewMessageSheet();
    QAction* a = form->Command(QStringLiteral("AcContext_E0005"));
    a->setData(QStringLiteral("line 3"));
    QVERIFY(a->isEnabled());
    a->trigger();
    QCOMPARE(Sheet(*form, 0)->Context, QStringList{"E0005/line 3"});
  }

  // The program's own sheets: New gives a message sheet, Validate File a file sheet, and a
  // message opened from a file sheet lands in a new message sheet with its text.
  void TheProgramsSheetsArePluggedIn() {
    auto form = NewForm();
    InstallSheets(*form);
    form->Command(QStringLiteral("AcFileNew"))->trigger();
    form->Command(QStringLiteral("AcEdifactValidateFile"))->trigger();
    QCOMPARE(form->PageControl()->count(), 2);
    auto form0 = qobject_cast<TTabSheetEx*>(form->PageControl()->widget(0))->Form();
    auto form1 = qobject_cast<TTabSheetEx*>(form->PageControl()->widget(1))->Form();
    QVERIFY(dynamic_cast<TSheetMessageFrm*>(form0));
    QVERIFY(dynamic_cast<TSheetFileFrm*>(form1));
    form->OpenMessageText(QStringLiteral("Message 7"), QStringLiteral("UNH+7+MSG'"));
    QCOMPARE(form->PageControl()->count(), 3);
    QCOMPARE(form->PageControl()->currentIndex(), 2);
    auto* opened = dynamic_cast<TSheetMessageFrm*>(qobject_cast<TTabSheetEx*>(form->PageControl()->widget(2))->Form());
    QVERIFY(opened);
    QCOMPARE(opened->Caption(), QStringLiteral("Message 7"));
    QCOMPARE(opened->Editor->Text(), QStringLiteral("UNH+7+MSG'"));
  }
};

QTEST_MAIN(MainFormTest)
#include "MainFormTest.moc"
