// The message sheet with the real engine and parser on the sample referential, and with a
// stand-in engine on a host whose jobs the test runs by hand (timing, failures).
#include <sys/wait.h>
#include <unistd.h>

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QListWidget>
#include <QMenu>
#include <QRadioButton>
#include <QSplitter>
#include <QStyle>
#include <QTimer>
#include <QTreeWidget>
#include <QtTest>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "../app/FakeEngine.h"
#include "../common/TempHives.h"
#include "EdiEditor.h"
#include "Platform.h"
#include "ProgressFrm.h"
#include "SearchTextDlg.h"
#include "Settings.h"
#include "SheetMessage.h"
#include "TestApp.h"
#include "TestDialogs.h"

namespace fs = std::filesystem;
using namespace verimek;
using namespace verimek::ui;

namespace {

const std::string kBin = EDI_BINARY_DIR;
const std::string kSamples = std::string(EDI_SHARED_DIR) + "/samples/";

std::vector<QString> SampleLines(const std::string& name) {
  std::ifstream in(kSamples + name, std::ios::binary);
  std::vector<QString> out;
  for (std::string l; std::getline(in, l);) {
    if (!l.empty() && l.back() == '\r') l.pop_back();
    out.push_back(QString::fromStdString(l));
  }
  return out;
}

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// Runs jobs only when the test says so, on the test's thread; steps run at once.
class TManualHost final : public TWorkerHost {
 public:
  void StartThread(std::function<void()> job) override { Jobs.push_back(std::move(job)); }
  void RunOnUiThread(const std::function<void()>& step) override { step(); }
  void RunAll() {
    while (!Jobs.empty()) {
      auto job = std::move(Jobs.front());
      Jobs.erase(Jobs.begin());
      job();
    }
  }
  std::vector<std::function<void()>> Jobs;
};

// The stand-in main window, with the worker host and components a test chooses.
class TSheetApp final : public TAppServices {
 public:
  explicit TSheetApp(test::TTestApp& app) : FApp(app) {}
  QAction* Command(const QString& name) override { return FApp.Command(name); }
  QWidget* MainWindow() override { return FApp.MainWindow(); }
  QStringList ExecuteOpenDialog() override { return FApp.ExecuteOpenDialog(); }
  QString ExecuteSaveDialog(const QString& fileName) override { return FApp.ExecuteSaveDialog(fileName); }
  TTelebibDataModule* Telebib() override { return nullptr; }
  QString TelebibUnavailableReason() override { return FApp.TelebibUnavailableReason(); }
  bool KeepDb() override { return false; }
  TWorkerHost& WorkerHost() override { return Host ? *Host : FApp.WorkerHost(); }
  const TComponentFactory& ComponentFactory() override { return Factory ? *Factory : FApp.ComponentFactory(); }
  void OpenMessageText(const QString& caption, const QString& text) override { FApp.OpenMessageText(caption, text); }

  TWorkerHost* Host = nullptr;
  const TComponentFactory* Factory = nullptr;

 private:
  test::TTestApp& FApp;
};

bool WaitIdle(TSheetMessageFrm* s) {
  return QTest::qWaitFor([s] { return !s->ValidateRunning() && !s->SyntaxCheckRunning(); }, 60000);
}

QStringList Row(QTreeWidget* list, int i) {
  QStringList r;
  for (int c = 0; c < 4; ++c) r << list->topLevelItem(i)->text(c);
  return r;
}

bool OverlayVisible() { return ProgressFrm() != nullptr && ProgressFrm()->isVisible(); }

}  // namespace

class MessageSheetTest : public QObject {
  Q_OBJECT

  std::unique_ptr<TempHives> FHives;
  QString FDir;
  bool FReal = false;

  TSheetMessageFrm* NewSheet(test::TTestApp& app, TAppServices* services = nullptr) {
    TAppServices& s = services ? *services : app;
    return app.AddSheet([&](TTabSheetEx* t) { return new TSheetMessageFrm(t, s); });
  }
  QString Path(const char* name) const { return FDir + QLatin1Char('/') + QString::fromUtf8(name); }

 private slots:
  void initTestCase() {
    FHives = std::make_unique<TempHives>();
    char tmpl[] = "/tmp/verimek-msgsheet-XXXXXX";
    FDir = QString::fromUtf8(mkdtemp(tmpl));
    qputenv("XDG_CONFIG_HOME", FDir.toUtf8());
    const std::string lib = kBin + "/lib/";
    const std::string referential = kBin + "/data/referential.db";
    for (const std::string& f : {lib + "libkalvix.so", lib + "libruvala.so", referential}) {
      QVERIFY2(common::FileExists(f), f.c_str());
    }
    const std::string cmd =
        "'" + kBin + "/bin/verimek-cli' register '" + lib + "libkalvix.so' '" + lib + "libruvala.so' >/dev/null 2>&1";
    const int rc = std::system(cmd.c_str());
    QVERIFY(WIFEXITED(rc) && WEXITSTATUS(rc) == 0);
    std::ofstream(FHives->Machine(), std::ios::app)
        << "\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\tarnholt\\services\\Database]\n\"Referential\"=\"" << referential
        << "\"\n";
    FReal = true;
  }

  void init() { ResetSettings(); }

  void cleanupTestCase() {
    FreeProgressFrm();
    ResetSettings();
    fs::remove_all(FDir.toStdString());
  }

  void ValidationOutcomesFillTheListsAndTabs() {
    const std::vector<QString> findings = SampleLines("with-findings.txt");
    const struct {
      const char* Name;
      QString Text;
      bool AreaVisible;
      const char* ActiveTab;
      QString ErrorsCaption, WarningsCaption;
      QStringList FirstRow;  // of the active list
      QString Segment;       // selected by Goto segment on that row
    } cases[] = {
        {"valid", findings[15], false, "", "Errors", "Warnings", {}, {}},
        {"warnings only",
         findings[0],
         true,
         "TabWarnings",
         "Errors (0)",
         "Warnings (1)",
         {"5", "ATT+A020", "W0001", "Obsolete value for \"C005:1, X011:1\", found \"9\""},
         "ATT+A020+9"},
        {"errors",
         findings[1],
         true,
         "TabErrors",
         "Errors (1)",
         "Warnings (0)",
         {"5", "ATT+A020", "E0009", "Invalid value for \"C005:1, X011:1\", found \"77\""},
         "ATT+A020+77"},
    };
    for (const auto& c : cases) {
      test::TScriptedDialogs dialogs;
      test::TTestApp app;
      TSheetMessageFrm* sheet = NewSheet(app);
      app.Window().show();
      sheet->LoadText(QStringLiteral("m"), c.Text);
      QVERIFY(sheet->CanValidate());
      sheet->Validate();
      QVERIFY2(WaitIdle(sheet), c.Name);
      QCOMPARE(sheet->PageControl->isVisible(), c.AreaVisible);
      QCOMPARE(sheet->PageControl->tabText(0), c.ErrorsCaption);
      QCOMPARE(sheet->PageControl->tabText(1), c.WarningsCaption);
      QVERIFY(!sheet->ProgressTimer->isActive());
      QVERIFY(!OverlayVisible());
      if (!c.AreaVisible) {
        QCOMPARE(dialogs.Texts(), QStringList{QStringLiteral("Message is valid")});
        QCOMPARE(dialogs.Boxes.front().Type, TMsgDlgType::mtInformation);
        QCOMPARE(sheet->Editor->MarkCount(), 0);
        continue;
      }
      QVERIFY2(dialogs.Boxes.empty(), qPrintable(dialogs.Texts().join(QLatin1Char('|'))));
      QCOMPARE(sheet->PageControl->currentWidget()->objectName(), QString::fromUtf8(c.ActiveTab));
      QTreeWidget* list =
          sheet->PageControl->currentWidget() == sheet->TabErrors ? sheet->lv_Errors : sheet->lv_Warnings;
      QCOMPARE(Row(list, 0), c.FirstRow);
      QVERIFY(!sheet->CanGotoSegment());
      list->topLevelItem(0)->setSelected(true);
      QVERIFY(sheet->CanGotoSegment());
      sheet->GotoSegment();
      QCOMPARE(sheet->Editor->selectedText(), c.Segment);
      // The segment is marked and hovering it names the finding; an edit removes the mark.
      const int at = sheet->Editor->SelStart() + 1;
      QVERIFY(sheet->Editor->MarkTipAt(at).startsWith(c.FirstRow[2]));
      sheet->Editor->insert(QStringLiteral(" "));
      QCOMPARE(sheet->Editor->MarkCount(), 0);
    }
  }

  void SyntaxErrorsComeFromTheContextEntryOfOneE0005Row() {
    const std::vector<QString> lines = SampleLines("syntax-errors.txt");
    test::TScriptedDialogs dialogs;
    test::TTestApp app;
    TSheetMessageFrm* sheet = NewSheet(app);
    sheet->LoadText(QStringLiteral("syntax"), lines[6]);
    QVERIFY(!sheet->SyntaxTabVisible());
    sheet->Validate();
    QVERIFY(WaitIdle(sheet));
    QCOMPARE(sheet->lv_Errors->topLevelItemCount(), 1);
    QCOMPARE(Row(sheet->lv_Errors, 0)[2], QStringLiteral("E0005"));
    sheet->lv_Errors->topLevelItem(0)->setSelected(true);
    sheet->PrepareLvPopupMenu();
    const QList<QAction*> entries = sheet->LvPopupMenu->actions();
    QCOMPARE(entries.size(), 3);
    QCOMPARE(entries[0], app.Command(QStringLiteral("AcEdifactGotoSegment")));
    QCOMPARE(sheet->LvPopupMenu->defaultAction(), entries[0]);
    QVERIFY(entries[1]->isSeparator());
    QCOMPARE(entries[2]->text(), QStringLiteral("Show syntax errors"));
    QCOMPARE(entries[2]->data().toString(), Row(sheet->lv_Errors, 0)[3]);
    entries[2]->trigger();
    QVERIFY(sheet->SyntaxCheckRunning());
    // The syntax check does not hold Validate back.
    QVERIFY(sheet->CanValidate());
    QVERIFY(WaitIdle(sheet));
    QVERIFY(sheet->SyntaxTabVisible());
    QCOMPARE(sheet->PageControl->currentWidget(), sheet->TabSyntaxError);
    QCOMPARE(sheet->lb_SyntaxErrors->count(), 1);
    QCOMPARE(sheet->lb_SyntaxErrors->item(0)->text(), QStringLiteral("invalid token near line 1 (text was '?')"));
    QVERIFY(dialogs.Boxes.empty());
    // A new validation hides the tab again.
    sheet->Validate();
    QVERIFY(!sheet->SyntaxTabVisible());
    QVERIFY(WaitIdle(sheet));
  }

  void TheContextEntryNeedsExactlyOneE0005Row() {
    test::TScriptedDialogs dialogs;
    test::TTestApp app;
    TSheetMessageFrm* sheet = NewSheet(app);
    const struct {
      QStringList Codes;
      std::vector<int> Selected;
      bool OnWarnings;
      bool Offered;
    } cases[] = {
        {{"E0005"}, {0}, false, true},           {{"E0005"}, {}, false, false},
        {{"E0009"}, {0}, false, false},          {{"E0005", "E0005"}, {0, 1}, false, false},
        {{"E0005", "E0009"}, {1}, false, false}, {{"E0005", "E0009"}, {0}, false, true},
        {{"W0001"}, {0}, true, false},
    };
    for (const auto& c : cases) {
      sheet->lv_Errors->clear();
      sheet->lv_Warnings->clear();
      QTreeWidget* list = c.OnWarnings ? sheet->lv_Warnings : sheet->lv_Errors;
      for (const QString& code : c.Codes) {
        list->addTopLevelItem(new QTreeWidgetItem(QStringList{"0", "", code, "Invalid Edifact message"}));
      }
      sheet->PageControl->setCurrentWidget(c.OnWarnings ? sheet->TabWarnings : sheet->TabErrors);
      for (int i : c.Selected) list->topLevelItem(i)->setSelected(true);
      sheet->PrepareLvPopupMenu();
      QCOMPARE(sheet->LvPopupMenu->actions().size(), c.Offered ? 3 : 2);
    }
  }

  void NearLineMovesTheCaretToThatLine() {
    test::TScriptedDialogs dialogs;
    test::TTestApp app;
    TSheetMessageFrm* sheet = NewSheet(app);
    QString text;
    for (int i = 1; i <= 20; ++i) text += QStringLiteral("    ATT+A%1+1'\r\n").arg(i);
    sheet->LoadText(QStringLiteral("lines"), text);
    sheet->Editor->setCursorPosition(3, 4);
    sheet->GotoSyntaxErrorLine(QStringLiteral("line 1: syntax error at \"DTM\" missing TAG_XET"));
    QCOMPARE(sheet->GetCaretPos(), QStringLiteral("4:5"));
    sheet->GotoSyntaxErrorLine(QStringLiteral("invalid token near line 12 (text was 'Z')"));
    QCOMPARE(sheet->GetCaretPos(), QStringLiteral("12:1"));
    // The same through a double click on the list.
    sheet->lb_SyntaxErrors->addItem(QStringLiteral("invalid token near line 7 (text was 'Q')"));
    emit sheet->lb_SyntaxErrors->itemDoubleClicked(sheet->lb_SyntaxErrors->item(0));
    QCOMPARE(sheet->GetCaretPos(), QStringLiteral("7:1"));
  }

  void SelectSegmentCountsCharactersAndSkipsRubriques() {
    test::TScriptedDialogs dialogs;
    test::TTestApp app;
    TSheetMessageFrm* sheet = NewSheet(app);
    sheet->LoadText(
        QStringLiteral("s"),
        QStringLiteral(u"XGH+1'XEH+90'NME+001+H\u00E9l\u00E8ne?'s:\u00C7a'XRH+1'PTY+002+\u00E9'XRT+1'XET+90'"));
    const struct {
      int N;
      QString Selected;
    } cases[] = {{1, QStringLiteral("XGH+1")},
                 {3, QStringLiteral(u"NME+001+H\u00E9l\u00E8ne?'s:\u00C7a")},
                 {4, QStringLiteral(u"PTY+002+\u00E9")},
                 {5, QStringLiteral("XET+90")}};
    for (const auto& c : cases) {
      sheet->SelectSegment(c.N);
      QCOMPARE(sheet->Editor->selectedText(), c.Selected);
    }
    sheet->SelectSegment(0);
    QCOMPARE(sheet->Editor->selectedText(), QStringLiteral("XET+90"));
  }

  void ASlowValidationShowsTheOverlayAFastOneNever() {
    fake::TFakeLog log;
    TComponentFactory factory{[&] { return fake::NewDocument(&log); }, [&] { return fake::NewMessage(&log); }};
    for (bool slow : {false, true}) {
      test::TScriptedDialogs dialogs;
      test::TTestApp app;
      TManualHost host;
      TSheetApp services(app);
      services.Host = &host;
      services.Factory = &factory;
      TSheetMessageFrm* sheet = NewSheet(app, &services);
      app.Window().show();
      sheet->LoadText(QStringLiteral("m"), QStringLiteral("XGH+1'FAKE+W+W0004+3+DTM+Segment \"DTM\" is empty'XGT+1'"));
      sheet->Validate();
      QVERIFY(!sheet->CanValidate());
      QVERIFY(sheet->ProgressTimer->isActive());
      if (slow) {
        QTest::qWait(700);
        QVERIFY(OverlayVisible());
      } else {
        QTest::qWait(100);
        QVERIFY(!OverlayVisible());
      }
      host.RunAll();
      QVERIFY(!sheet->ValidateRunning());
      QVERIFY(sheet->CanValidate());
      QVERIFY(!sheet->ProgressTimer->isActive());
      QVERIFY(!OverlayVisible());
      QTest::qWait(600);
      QVERIFY(!OverlayVisible());
      QCOMPARE(sheet->PageControl->currentWidget(), sheet->TabWarnings);
      QCOMPARE(Row(sheet->lv_Warnings, 0),
               (QStringList{"3", "DTM", "W0004", QStringLiteral("Segment \"DTM\" is empty")}));
    }
  }

  void AFailingWorkerShowsItsErrorAndLeavesTheListsEmptied() {
    fake::TFakeLog log;
    TComponentFactory factory{[&] { return fake::NewDocument(&log); }, [&] { return fake::NewMessage(&log); }};
    test::TScriptedDialogs dialogs;
    test::TTestApp app;
    TManualHost host;
    TSheetApp services(app);
    services.Host = &host;
    services.Factory = &factory;
    TSheetMessageFrm* sheet = NewSheet(app, &services);
    sheet->LoadText(QStringLiteral("m"), QStringLiteral("XGH+1'FAKE+E+E0009+2+ATT+bad'XGT+1'"));
    sheet->Validate();
    host.RunAll();
    QCOMPARE(sheet->lv_Errors->topLevelItemCount(), 1);
    sheet->LoadText(QStringLiteral("m"), QStringLiteral("XGH+1'BOOM'"));
    sheet->Validate();
    host.RunAll();
    QCOMPARE(sheet->lv_Errors->topLevelItemCount(), 0);
    QCOMPARE(sheet->lv_Warnings->topLevelItemCount(), 0);
    QCOMPARE(sheet->PageControl->tabText(0), QStringLiteral("Errors"));
    QCOMPARE(dialogs.Boxes.size(), std::size_t{1});
    QCOMPARE(dialogs.Boxes[0].Type, TMsgDlgType::mtError);
    QVERIFY2(dialogs.Boxes[0].Text.contains(QStringLiteral("engine down")), qPrintable(dialogs.Boxes[0].Text));
    QVERIFY(sheet->CanValidate());

    // Components that cannot be made: the box, and Validate stays available.
    TComponentFactory broken{[]() -> edicom::ComPtr<ruvala::IEdiDocument> { throw std::runtime_error("no engine"); },
                             [] { return edicom::ComPtr<kalvix::IEdiMessage>(); }};
    services.Factory = &broken;
    sheet->Validate();
    QCOMPARE(dialogs.Texts().back(), QStringLiteral("no engine"));
    QVERIFY(!sheet->ProgressTimer->isActive());
    QVERIFY(sheet->CanValidate());
  }

  void EnablingFollowsTheText() {
    test::TScriptedDialogs dialogs;
    test::TTestApp app;
    TSheetMessageFrm* sheet = NewSheet(app);
    QVERIFY(!sheet->CanValidate());
    QVERIFY(!sheet->CanSearch());
    QVERIFY(!sheet->CanSaveAs());
    QVERIFY(!sheet->CanSave());
    QVERIFY(!sheet->CanCopy());
    QVERIFY(!sheet->CanUndo());
    QVERIFY(!sheet->CanSearchNext());
    sheet->LoadText(QStringLiteral("m"), QStringLiteral("XGH+1'XEH+1'XET+1'XGT+1'"));
    QVERIFY(sheet->CanValidate() && sheet->CanSearch() && sheet->CanSaveAs() && sheet->CanSelectAll());
    QVERIFY(sheet->CanFormatEdifact() && !sheet->CanUnformatEdifact());
    sheet->SelectAll();
    QVERIFY(sheet->CanCopy() && sheet->CanCut() && sheet->CanDelete());
    sheet->Delete();
    QVERIFY(sheet->Editor->IsEmpty());
    QVERIFY(!sheet->CanValidate());
    QVERIFY(sheet->CanUndo());
    sheet->Undo();
    QCOMPARE(sheet->Editor->Text(), QStringLiteral("XGH+1'XEH+1'XET+1'XGT+1'"));
    QCOMPARE(sheet->TabSheet()->ImageIndex(), 0);
  }

  // At 80 px the warnings list's "Warning Code" header was cut; 80 stays the least.
  void TheListsShowTheirCodeHeadersWhole() {
    test::TTestApp app;
    TSheetMessageFrm* sheet = NewSheet(app);
    for (QTreeWidget* list : {sheet->lv_Errors, sheet->lv_Warnings}) {
      const QString cut = test::HeaderCut(list, 2, 80);
      QVERIFY2(cut.isEmpty(), qPrintable(cut));
    }
  }

  void IndentUnindentMarkModifiedAndSavingClearsTheImage() {
    test::TScriptedDialogs dialogs;
    test::TTestApp app;
    TSheetMessageFrm* sheet = NewSheet(app);
    const QString path = Path("indent.txt");
    const std::string original = "XGH+1'XEH+90'ATT+A020+1'XET+90'XGT+1'";
    std::ofstream(path.toStdString(), std::ios::binary) << original;
    sheet->SetFilename(path);
    QCOMPARE(sheet->Caption(), QStringLiteral("indent.txt"));
    QCOMPARE(sheet->TabSheet()->ImageIndex(), 0);
    sheet->FormatEdifact();
    QCOMPARE(sheet->Editor->Text(),
             QStringLiteral("XGH+1'\r\n    XEH+90'\r\n        ATT+A020+1'\r\n    XET+90'\r\nXGT+1'"));
    QVERIFY(sheet->CanUnformatEdifact() && !sheet->CanFormatEdifact());
    QCOMPARE(sheet->TabSheet()->ImageIndex(), 1);
    sheet->UnformatEdifact();
    QCOMPARE(sheet->Editor->Text(), QString::fromStdString(original));
    QVERIFY(sheet->CanSave());
    QCOMPARE(sheet->TabSheet()->ImageIndex(), 1);
    QVERIFY(sheet->Save());
    QVERIFY(!sheet->CanSave());
    QCOMPARE(sheet->TabSheet()->ImageIndex(), 0);
    QCOMPARE(ReadBytes(path.toStdString()), original);
    // Undo back past the save point marks the text again.
    sheet->Undo();
    QCOMPARE(sheet->TabSheet()->ImageIndex(), 1);
    QVERIFY(dialogs.Boxes.empty());
  }

  void ClosingAModifiedSheetAsksAndCancelKeepsIt() {
    const struct {
      TModalResult Answer;
      QString SaveAnswer;
      bool Aborts;
      bool Closes;
      int SaveDialogs;
    } cases[] = {
        {TModalResult::mrYes, QString(), false, false, 1},
        {TModalResult::mrYes, QStringLiteral("saved.edi"), false, true, 1},
        {TModalResult::mrNo, QString(), false, true, 0},
        {TModalResult::mrCancel, QString(), true, false, 0},
    };
    for (const auto& c : cases) {
      test::TScriptedDialogs dialogs;
      test::TTestApp app;
      TSheetMessageFrm* sheet = NewSheet(app);
      QVERIFY(sheet->CanClose());
      sheet->Editor->insert(QStringLiteral("XGH+1'"));
      QCOMPARE(sheet->TabSheet()->ImageIndex(), 1);
      dialogs.Answers.push_back(c.Answer);
      if (!c.SaveAnswer.isEmpty()) dialogs.SaveAnswers.push_back(Path(qPrintable(c.SaveAnswer)));
      bool aborted = false, closes = false;
      try {
        closes = sheet->CanClose();
      } catch (const EAbort&) {
        aborted = true;
      }
      QCOMPARE(aborted, c.Aborts);
      QCOMPARE(closes, c.Closes);
      QCOMPARE(static_cast<int>(dialogs.SaveDialogs.size()), c.SaveDialogs);
      QCOMPARE(dialogs.Boxes.front().Text, QStringLiteral("Data as changed\n\nSave changes ?"));
      QCOMPARE(dialogs.Boxes.front().Buttons, unsigned{mbYes | mbNo | mbCancel});
      if (!c.SaveAnswer.isEmpty()) {
        QCOMPARE(sheet->Caption(), c.SaveAnswer);
        QCOMPARE(sheet->Filename(), Path(qPrintable(c.SaveAnswer)));
        QCOMPARE(ReadBytes(Path(qPrintable(c.SaveAnswer)).toStdString()), std::string("XGH+1'"));
        QCOMPARE(sheet->TabSheet()->ImageIndex(), 0);
      }
    }
  }

  void FilesKeepTheirEncodingAndBadFilesAreRefused() {
    test::TScriptedDialogs dialogs;
    test::TTestApp app;
    // Windows-1252 stays byte for byte; an edit is written in it too.
    const std::string cp1252 = "XGH+1'NME+001+H\xE9l\xE8ne \x80'\r\nXGT+1'";
    std::ofstream(Path("cp.txt").toStdString(), std::ios::binary) << cp1252;
    TSheetMessageFrm* sheet = NewSheet(app);
    sheet->SetFilename(Path("cp.txt"));
    QCOMPARE(sheet->Encoding(), teAnsi);
    QVERIFY(sheet->Editor->Text().contains(QStringLiteral(u"H\u00E9l\u00E8ne \u20AC")));
    sheet->SelectSegment(2);
    QCOMPARE(sheet->Editor->selectedText(), QStringLiteral(u"NME+001+H\u00E9l\u00E8ne \u20AC"));
    sheet->Editor->SetModified(true);
    QVERIFY(sheet->Save());
    QCOMPARE(ReadBytes(Path("cp.txt").toStdString()), cp1252);

    // The file went away before Save: written anew.
    fs::remove(Path("cp.txt").toStdString());
    QVERIFY(sheet->Save());
    QCOMPARE(ReadBytes(Path("cp.txt").toStdString()), cp1252);

    // An unwritable target (its folder gone; a read-only file for others than the superuser):
    // the reason in a box, the modified mark kept.
    const fs::path gone = fs::path(FDir.toStdString()) / "gone";
    fs::create_directories(gone);
    std::ofstream((gone / "m.txt").string()) << "XGH+1'";
    const fs::path ro = fs::path(FDir.toStdString()) / "ro.txt";
    std::ofstream(ro.string()) << "XGH+1'";
    std::vector<std::pair<fs::path, std::function<void()>>> targets = {{gone / "m.txt", [&] { fs::remove_all(gone); }}};
    if (geteuid() != 0) targets.push_back({ro, [&] { fs::permissions(ro, fs::perms::owner_read); }});
    for (const auto& [path, spoil] : targets) {
      TSheetMessageFrm* unwritable = NewSheet(app);
      unwritable->SetFilename(QString::fromStdString(path.string()));
      unwritable->Editor->insert(QStringLiteral("X"));
      spoil();
      const std::size_t boxes = dialogs.Boxes.size();
      QVERIFY(!unwritable->Save());
      QCOMPARE(dialogs.Boxes.size(), boxes + 1);
      QVERIFY(dialogs.Texts().back().startsWith(QStringLiteral("Cannot write file")));
      QVERIFY(unwritable->Editor->Modified());
      QCOMPARE(unwritable->TabSheet()->ImageIndex(), 1);
      QCOMPARE(unwritable->Editor->Text(), QStringLiteral("XXGH+1'"));
    }

    // A binary file is refused and the sheet stays untitled, so nothing can overwrite it.
    const std::string binary(
        "\x7F"
        "ELF\0\0\x01\x02",
        8);
    std::ofstream(Path("bin").toStdString(), std::ios::binary) << binary;
    TSheetMessageFrm* bin = NewSheet(app);
    bin->SetFilename(Path("bin"));
    QVERIFY(dialogs.Texts().back().contains(QStringLiteral("is not a text file")));
    QCOMPARE(bin->Filename(), QStringLiteral("[Untitled]"));
    QVERIFY(bin->Editor->IsEmpty());
    QCOMPARE(ReadBytes(Path("bin").toStdString()), binary);
  }

  void SearchWritesBackOnOkOnlyAndF3GoesForward() {
    test::TScriptedDialogs dialogs;
    test::TTestApp app;
    TSheetMessageFrm* sheet = NewSheet(app);
    const QString text = QStringLiteral("XGH+1'ATT+A020+1'ATT+A021+2'ATT+A022+3'XGT+1'");
    sheet->LoadText(QStringLiteral("m"), text);
    TSettings& settings = Settings();
    settings.SetSearchText("ATT");
    settings.SetSearchTextHistory("XGT\r\nATT");
    QVERIFY(sheet->CanSearchNext());

    // F3 in a fresh sheet: from the start, whatever the caret.
    sheet->Editor->SelectCharRange(static_cast<int>(text.size()), 0);
    sheet->SearchNext();
    QCOMPARE(sheet->Editor->SelStart(), 6);
    sheet->SearchNext();
    QCOMPARE(sheet->Editor->SelStart(), 17);

    // Cancel: nothing written, no search.
    dialogs.ExecAnswers.push_back([](QDialog& d) {
      auto& dlg = dynamic_cast<TSearchTextDlg&>(d);
      dlg.cb_SearchText->setEditText(QStringLiteral("XGT"));
      return int{QDialog::Rejected};
    });
    sheet->Search();
    QCOMPARE(dialogs.Executed, QStringList{QStringLiteral("Search Text")});
    QCOMPARE(settings.SearchText(), std::string("ATT"));
    QCOMPARE(sheet->Editor->SelStart(), 17);

    // OK backwards from the caret: the text moves to the top of the history.
    dialogs.ExecAnswers.push_back([](QDialog& d) {
      auto& dlg = dynamic_cast<TSearchTextDlg&>(d);
      if (dlg.cb_SearchText->currentText() != QStringLiteral("ATT") || dlg.cb_SearchText->count() != 2) {
        return int{QDialog::Rejected};
      }
      dlg.rb_Backward->setChecked(true);
      dlg.cbx_FromCaret->setChecked(true);
      dlg.cb_SearchText->setEditText(QStringLiteral("A02"));
      return int{QDialog::Accepted};
    });
    sheet->Search();
    QCOMPARE(settings.SearchText(), std::string("A02"));
    QCOMPARE(settings.SearchTextHistory(), std::string("A02\r\nXGT\r\nATT"));
    QVERIFY(settings.SearchBackwards() && settings.SearchFromCaret());
    QCOMPARE(sheet->Editor->SelStart(), 10);
    // F3 is forward still, from the caret.
    sheet->SearchNext();
    QCOMPARE(sheet->Editor->SelStart(), 21);
    sheet->SearchNext();
    QCOMPARE(sheet->Editor->SelStart(), 32);
    QVERIFY(dialogs.Boxes.empty());
    // Past the last: the box, and the selection collapses to its end.
    sheet->SearchNext();
    QCOMPARE(dialogs.Texts(), QStringList{QStringLiteral("'A02' not found")});
    QCOMPARE(dialogs.Boxes.back().Type, TMsgDlgType::mtError);
    QCOMPARE(sheet->Editor->SelLength(), 0);
    QCOMPARE(sheet->Editor->SelStart(), 35);
  }

  void SearchOptionsSelectWhatTheyName() {
    const QString text = QStringLiteral("XGH+1'FTX+att:Attest'ATT+A020+12'ATT+A020+123'XGT+1'");
    const struct {
      const char* Text;
      bool Case, Words, Regex, Backwards;
      int From;             // caret before, with search from caret
      int SelFrom, SelLen;  // a selection to search in, or -1
      int Found;            // start of the match, -1 for none
      int Length;
    } cases[] = {
        {"att", false, false, false, false, 0, -1, 0, 10, 3},
        {"ATT", true, false, false, false, 0, -1, 0, 21, 3},
        {"Attest", false, true, false, false, 0, -1, 0, 14, 6},
        {"A02", false, true, false, false, 0, -1, 0, -1, 0},
        {"12", false, true, false, false, 0, -1, 0, 30, 2},
        {"A02[0-9]\\+12[0-9]", false, false, true, false, 0, -1, 0, 37, 8},
        {"ATT", false, false, false, true, 40, -1, 0, 33, 3},
        {"ATT", false, false, false, false, 22, -1, 0, 33, 3},
        {"A020", false, false, false, false, 0, 34, 12, 37, 4},
        {"FTX", false, false, false, false, 0, 21, 25, -1, 0},
        {"nothing", false, false, false, false, 0, -1, 0, -1, 0},
    };
    for (const auto& c : cases) {
      test::TScriptedDialogs dialogs;
      test::TTestApp app;
      TSheetMessageFrm* sheet = NewSheet(app);
      sheet->LoadText(QStringLiteral("m"), text);
      ResetSettings();
      TSettings& s = Settings();
      s.SetSearchTextHistory("");
      const bool inSelection = c.SelFrom >= 0;
      dialogs.ExecAnswers.push_back([&](QDialog& d) {
        auto& dlg = dynamic_cast<TSearchTextDlg&>(d);
        dlg.cb_SearchText->setEditText(QString::fromUtf8(c.Text));
        dlg.cbx_CaseSensitive->setChecked(c.Case);
        dlg.cbx_WholeWords->setChecked(c.Words);
        dlg.cbx_Regex->setChecked(c.Regex);
        dlg.cbx_SelectedOnly->setChecked(inSelection);
        dlg.cbx_FromCaret->setChecked(true);
        (c.Backwards ? dlg.rb_Backward : dlg.rb_Forward)->setChecked(true);
        return int{QDialog::Accepted};
      });
      if (inSelection) {
        sheet->Editor->SelectCharRange(c.SelFrom, c.SelLen);
      } else {
        sheet->Editor->SelectCharRange(c.From, 0);
      }
      sheet->Search();
      if (c.Found < 0) {
        QCOMPARE(dialogs.Texts(), QStringList{QStringLiteral("'%1' not found").arg(QString::fromUtf8(c.Text))});
      } else {
        QVERIFY2(dialogs.Boxes.empty(), c.Text);
        QCOMPARE(sheet->Editor->SelStart(), c.Found);
        QCOMPARE(sheet->Editor->SelLength(), c.Length);
      }
    }
  }

  void TextAtCaretStartsTheDialog() {
    test::TScriptedDialogs dialogs;
    test::TTestApp app;
    TSheetMessageFrm* sheet = NewSheet(app);
    sheet->LoadText(QStringLiteral("m"), QStringLiteral("XGH+1'ATT+A020+1'\r\nXGT+1'"));
    Settings().WriteBool("Search", "TextAtCaret", true);
    const struct {
      int From, Len;
      QString Expected;
    } cases[] = {{10, 4, QStringLiteral("A020")}, {11, 0, QStringLiteral("A020")}, {14, 8, QStringLiteral("XGT")}};
    for (const auto& c : cases) {
      QString shown;
      dialogs.ExecAnswers.push_back([&](QDialog& d) {
        shown = dynamic_cast<TSearchTextDlg&>(d).cb_SearchText->currentText();
        return int{QDialog::Rejected};
      });
      Settings().SetSearchText("A020");
      sheet->Editor->SelectCharRange(c.From, c.Len);
      sheet->Search();
      QCOMPARE(shown, c.Expected);
    }
    Settings().WriteBool("Search", "TextAtCaret", false);
  }
};

QTEST_MAIN(MessageSheetTest)
#include "MessageSheetTest.moc"
