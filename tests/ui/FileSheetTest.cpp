// The file sheet, headless, through the dialog seam: real runs of the shared samples with the
// registered components and the sample referential, and small results databases made by hand.
#include <sys/wait.h>

#include <QChartView>
#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QSignalSpy>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <QTabWidget>
#include <QTreeView>
#include <QTreeWidget>
#include <QtCharts/QAbstractBarSeries>
#include <QtCharts/QBarSet>
#include <QtTest>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string_view>

#include "../common/TempHives.h"
#include "EdiEditor.h"
#include "FileSheetModel.h"
#include "Platform.h"
#include "Settings.h"
#include "SheetFile.h"
#include "SysSqlite.h"
#include "TestApp.h"
#include "TestDialogs.h"
#include "UTelebib.h"

using namespace verimek;
using namespace verimek::ui;

namespace {

namespace fs = std::filesystem;

const std::string kLib = std::string(EDI_BINARY_DIR) + "/lib/";
const std::string kReferential = std::string(EDI_BINARY_DIR) + "/data/referential.db";
const std::string kSamples = std::string(EDI_SHARED_DIR) + "/samples/";

QString Q(const std::string& s) { return QString::fromStdString(s); }

int RunCli(const std::string& args) {
  const std::string cmd = "'" + std::string(EDI_BINARY_DIR) + "/bin/verimek-cli' " + args + " >/dev/null 2>&1";
  const int rc = std::system(cmd.c_str());
  return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

// "caption|count|%" per row of a list.
QStringList Rows(const QAbstractItemView* list) {
  const QAbstractItemModel* m = list->model();
  QStringList out;
  for (int i = 0; i < m->rowCount(); ++i) {
    QStringList cells;
    for (int c = 0; c < m->columnCount(); ++c) cells << m->index(i, c).data().toString();
    out << cells.join(QLatin1Char('|'));
  }
  return out;
}

// A results database made by hand: messages given as error codes and warning codes.
struct THandMade {
  struct TMsg {
    std::vector<std::string> Errors, Warnings;
  };
  static std::string Make(const std::vector<TMsg>& messages) {
    std::string name = NewTempDbFileName();
    TDatabase db(name, true);
    CreateResultsSchema(db);
    db.BeginTransaction();
    for (std::size_t i = 0; i < messages.size(); ++i) {
      const TMsg& m = messages[i];
      db.ExecParams(
          "insert into Messages (XehId, X921, X923, X925, X912, X916, ErrorCount, WarningCount) "
          "values (1, '0039', '104512', '002', 90, '10', ?, ?)",
          {static_cast<std::int64_t>(m.Errors.size()), static_cast<std::int64_t>(m.Warnings.size())}, true);
      const std::int64_t id = db.LastInsertRowId();
      db.ExecParams("insert into Data (MessageId, XehId, Body) values (?, 1, ?)",
                    {id, CompressAndEncode("XGH+1+0039+104512+002'XEH+90+1+" + std::to_string(i + 1) +
                                           "+1++10'RFF+009:A'ATT+A020+9'XET+90'XGT+1'")},
                    true);
      for (const std::string& e : m.Errors)
        db.ExecParams(
            "insert into Errors (MessageId, XehId, SegmentNo, SegmentKey, ErrorCode, ErrorMessage) "
            "values (?, 1, 4, 'ATT+A020', ?, ?)",
            {id, e, "text of " + e}, true);
      for (const std::string& w : m.Warnings)
        db.ExecParams(
            "insert into Warnings (MessageId, XehId, SegmentNo, SegmentKey, WarningCode, WarningMessage) "
            "values (?, 1, 3, 'RFF+009', ?, ?)",
            {id, w, "text of " + w}, true);
    }
    db.Commit();
    return name;
  }
};

std::string WriteFile(const std::string& dir, const std::string& name, const std::string& text) {
  std::string path = dir + "/" + name;
  std::ofstream(path, std::ios::binary) << text;
  return path;
}

}  // namespace

class FileSheetTest : public QObject {
  Q_OBJECT

  std::unique_ptr<TempHives> FHives;
  std::string FDir, FTmp;
  bool FComponents = false;

  TSheetFileFrm* NewSheet(test::TTestApp& app) {
    TSheetFileFrm* s = app.AddSheet([&](TTabSheetEx* t) { return new TSheetFileFrm(t, app); });
    edicom::DATE d = 0;
    ParseIsoDate("2025-06-30", d);
    s->MessageDate = d;
    app.Window().show();
    return s;
  }

  // Starts a run of file and waits for its end.
  bool RunFile(TSheetFileFrm* s, const QString& file) {
    s->cb_Filename->setEditText(file);
    if (!s->CanValidate()) return false;
    s->Validate();
    return QTest::qWaitFor([&] { return !s->Running(); }, 60000);
  }

  // Shows a results file as after a run, and waits until its indexes are made and it is shown.
  static void ShowResults(TSheetFileFrm* s, const QString& db) {
    s->ShowResultsOf(db);
    QVERIFY(QTest::qWaitFor([&] { return !s->Running(); }, 60000));
  }

  void SkipWithoutComponents() {
    if (!FComponents) QSKIP("the components or the sample referential are not built");
  }

 private slots:
  void initTestCase() {
    char tmpl[] = "/tmp/verimek-filesheet-XXXXXX";
    FDir = mkdtemp(tmpl);
    // Settings and results files of this test only.
    qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(FDir + "/config"));
    FTmp = FDir + "/tmp";
    fs::create_directories(FTmp);
    qputenv("TMPDIR", QByteArray::fromStdString(FTmp));
    FHives = std::make_unique<TempHives>();
    FComponents = true;
    for (const std::string& f : {kLib + "libkalvix.so", kLib + "libruvala.so", kReferential})
      FComponents = FComponents && common::FileExists(f);
    if (FComponents) {
      FComponents = RunCli("register '" + kLib + "libkalvix.so' '" + kLib + "libruvala.so'") == 0;
      std::ofstream(FHives->Machine(), std::ios::app)
          << "\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\tarnholt\\services\\Database]\n\"Referential\"=\"" << kReferential
          << "\"\n";
    }
  }

  void init() {
    fs::remove_all(FDir + "/config");
    ResetSettings();
  }

  void cleanupTestCase() {
    FHives.reset();
    fs::remove_all(FDir);
  }

  void CaptionFollowsTheNameAndTheRememberedFile() {
    const std::string file = WriteFile(FDir, "day one.txt", "");
    {
      test::TTestApp app;
      TSheetFileFrm* s = NewSheet(app);
      QCOMPARE(app.Pages()->tabText(0), QStringLiteral("[Untitled]"));
      QVERIFY(!s->CanValidate());
      QVERIFY(s->gb_Progress->isHidden());
      QVERIFY(s->gb_Result->isHidden());
      s->cb_Filename->setEditText(Q(file));
      QCOMPARE(app.Pages()->tabText(0), QStringLiteral("File: day one.txt"));
      QCOMPARE(s->Filename(), Q(file));
      QVERIFY(s->CanValidate());
      s->cb_Filename->setEditText(Q(FDir + "/missing.txt"));
      QVERIFY(!s->CanValidate());
    }
    // Remembered, and still there: the next sheet starts with it; gone: "[Untitled]".
    Settings().SetValidateFileText(file);
    {
      test::TTestApp app;
      TSheetFileFrm* s = NewSheet(app);
      QCOMPARE(s->cb_Filename->currentText(), Q(file));
      QCOMPARE(app.Pages()->tabText(0), QStringLiteral("File: day one.txt"));
    }
    Settings().SetValidateFileText(FDir + "/gone.txt");
    {
      test::TTestApp app;
      NewSheet(app);
      QCOMPARE(app.Pages()->tabText(0), QStringLiteral("[Untitled]"));
    }
  }

  // At 80 px the lower lists' "Warning Code" header was cut; 80 stays the least.
  void TheLowerListsShowTheirCodeHeadersWhole() {
    test::TTestApp app;
    TSheetFileFrm* s = NewSheet(app);
    for (QTreeWidget* list : {s->lv_Errors, s->lv_Warnings}) {
      const QString cut = test::HeaderCut(list, 2, 80);
      QVERIFY2(cut.isEmpty(), qPrintable(cut));
    }
  }

  void GlobalResultAndStatisticsOfHandMadeResults() {
    struct TCase {
      const char* Name;
      std::vector<THandMade::TMsg> Messages;
      QStringList Global;
      QStringList ByErrorCode;
    } cases[] = {
        {"no message",
         {},
         {"Messages valid|0|0.00", "Messages with error(s)|0|0.00", "Messages with warning(s)|0|0.00", "Total|0|"},
         {}},
        {"3 valid, 1 with errors, 1 with warnings",
         {{}, {}, {}, {{"E0002", "E0002", "E0007", "E0007", "E0007", "E0007", "E0007", "E0007"}, {}}, {{}, {"W0001"}}},
         {"Messages valid|3|60.00", "Messages with error(s)|1|20.00", "Messages with warning(s)|1|20.00", "Total|5|"},
         {"E0002 : |2|25.00", "E0007 : |6|75.00"}},
    };
    for (const TCase& c : cases) {
      test::TScriptedDialogs dialogs;
      test::TTestApp app;
      TSheetFileFrm* s = NewSheet(app);
      // Code texts come from the engine when it is there; the test reads captions up to " : ".
      ShowResults(s, Q(THandMade::Make(c.Messages)));
      QVERIFY2(dialogs.Boxes.empty(), c.Name);
      QVERIFY(s->gb_Result->isVisible());
      QCOMPARE(s->pc_Main->currentIndex(), 0);
      QCOMPARE(Rows(s->lv_GlobalResult), c.Global);
      s->pc_Main->setCurrentIndex(2);
      QStringList byCode = Rows(s->lv_ErrorCode);
      for (QString& r : byCode) r.replace(QRegularExpression(" : [^|]*"), " : ");
      QCOMPARE(byCode, c.ByErrorCode);
      // The chart beside the list: one bar per code, the list's first code at the top.
      auto* series = s->ch_ErrorCode->chart()->series().isEmpty()
                         ? nullptr
                         : qobject_cast<QAbstractBarSeries*>(s->ch_ErrorCode->chart()->series().front());
      QVERIFY(series);
      QCOMPARE(series->barSets().front()->count(), static_cast<int>(c.ByErrorCode.size()));
      if (!c.ByErrorCode.isEmpty()) {
        QCOMPARE(series->barSets().front()->at(0), 6.0);  // E0007, drawn from the bottom up
        QCOMPARE(series->barSets().front()->at(1), 2.0);
      }
      s->pc_Main->setCurrentIndex(5);
      QCOMPARE(s->lv_Details->topLevelItemCount(), static_cast<int>(c.Messages.size()));
    }
  }

  void PagingKeysOnAHundredMessages() {
    test::TScriptedDialogs dialogs;
    test::TTestApp app;
    TSheetFileFrm* s = NewSheet(app);
    ShowResults(s, Q(THandMade::Make(std::vector<THandMade::TMsg>(100))));
    s->pc_Main->setCurrentIndex(5);
    // Size the window until 20 rows fit.
    for (int i = 0; i < 50 && s->RowsThatFit() != 20; ++i) {
      const int diff = static_cast<int>(20 - s->RowsThatFit()) * 8;
      app.Window().resize(1000, app.Window().height() + (diff ? diff : 1));
      QCoreApplication::processEvents();
    }
    QCOMPARE(s->RowsThatFit(), std::int64_t{20});
    s->LoadPage(0);
    s->lv_Details->setFocus();
    QTRY_VERIFY(s->lv_Details->hasFocus());

    auto selectedId = [&] {
      const auto sel = s->lv_Details->selectedItems();
      return sel.isEmpty() ? -1 : sel.front()->text(0).toInt();
    };
    auto firstShown = [&] { return s->lv_Details->topLevelItem(0)->text(0).toInt(); };

    QTest::keyClick(s->lv_Details, Qt::Key_End, Qt::ControlModifier);
    QCOMPARE(firstShown(), 81);
    QCOMPARE(selectedId(), 100);
    QCOMPARE(s->sb_Records->currentMessage(), QStringLiteral("Record 100 of 100"));
    QTest::keyClick(s->lv_Details, Qt::Key_Down);
    QCOMPARE(firstShown(), 81);
    QCOMPARE(selectedId(), 100);
    s->lv_Details->setCurrentItem(s->lv_Details->topLevelItem(0));
    QCOMPARE(selectedId(), 81);
    QTest::keyClick(s->lv_Details, Qt::Key_Up);
    QCOMPARE(firstShown(), 80);
    QCOMPARE(selectedId(), 80);
    QTest::keyClick(s->lv_Details, Qt::Key_Home, Qt::ControlModifier);
    QCOMPARE(firstShown(), 1);
    QCOMPARE(selectedId(), 1);
    QTest::keyClick(s->lv_Details, Qt::Key_Up);  // Id 1: nothing above
    QCOMPARE(firstShown(), 1);
    QCOMPARE(selectedId(), 1);
    // Down on the last row moves the page by one; Page Down on it by a page.
    s->lv_Details->setCurrentItem(s->lv_Details->topLevelItem(19));
    QTest::keyClick(s->lv_Details, Qt::Key_Down);
    QCOMPARE(firstShown(), 2);
    QCOMPARE(selectedId(), 21);
    QTest::keyClick(s->lv_Details, Qt::Key_PageDown);
    QCOMPARE(firstShown(), 22);
    QVERIFY(dialogs.Boxes.empty());
    // No names module here: the raw codes, and the status line says why once a page loads.
    QCOMPARE(s->lv_Details->topLevelItem(0)->text(5), QStringLiteral("90"));
    QCOMPARE(s->lv_Details->topLevelItem(0)->text(7), QStringLiteral("(Blob)"));
    s->LoadPage(50);
    QVERIFY(s->sb_Records->currentMessage().contains(QStringLiteral("no referential names")));
    {
      // With the names module connected.
      TTelebibDataModule names;
      names.Connect(kReferential);
      app.Names = &names;
      s->LoadPage(40);
      // A code the referential does not know stays raw, and the status line says why.
      QCOMPARE(s->lv_Details->topLevelItem(0)->text(5), QStringLiteral("90"));
      QVERIFY(s->sb_Records->currentMessage().contains(QStringLiteral("X912ToStr(90) failed (not found)")));
      app.Names = nullptr;
      s->LoadPage(50);
    }

    // Enter opens the selected message in a message sheet.
    s->lv_Details->setCurrentItem(s->lv_Details->topLevelItem(0));
    QTest::keyClick(s->lv_Details, Qt::Key_Return);
    QCOMPARE(app.Opened.size(), std::size_t{1});
    QVERIFY(app.Opened[0].second.startsWith(QStringLiteral("XGH+1+0039")));
    QVERIFY(app.Opened[0].second.contains(QStringLiteral("XEH+90+1+51+")));
  }

  void SelectingAMessageShowsItsTextAndFindings() {
    test::TScriptedDialogs dialogs;
    test::TTestApp app;
    TSheetFileFrm* s = NewSheet(app);
    ShowResults(s, Q(THandMade::Make({{}, {{"E0009", "E0013"}, {"W0001"}}})));
    s->pc_Main->setCurrentIndex(5);
    s->lv_Details->setCurrentItem(s->lv_Details->topLevelItem(1));
    QCOMPARE(s->Editor->Text(),
             QStringLiteral("XGH+1+0039+104512+002'XEH+90+1+2+1++10'RFF+009:A'ATT+A020+9'XET+90'XGT+1'"));
    QCOMPARE(s->pc_ErrorWarning->tabText(0), QStringLiteral("Errors (2)"));
    QCOMPARE(s->pc_ErrorWarning->tabText(1), QStringLiteral("Warnings (1)"));
    QCOMPARE(Rows(s->lv_Errors), (QStringList{"4|ATT+A020|E0009|text of E0009", "4|ATT+A020|E0013|text of E0013"}));
    QCOMPARE(s->sb_Records->currentMessage(), QStringLiteral("Record 2 of 2"));
    // Double click on an error selects its segment (4: ATT+A020+9) in the editor.
    QVERIFY(!s->CanGotoSegment());
    s->lv_Errors->setCurrentItem(s->lv_Errors->topLevelItem(0));
    QVERIFY(s->CanGotoSegment());
    s->GotoSegment();
    QCOMPARE(s->Editor->selectedText(), QStringLiteral("ATT+A020+9"));
    s->pc_ErrorWarning->setCurrentIndex(1);
    s->lv_Warnings->setCurrentItem(s->lv_Warnings->topLevelItem(0));
    emit s->lv_Warnings->itemDoubleClicked(s->lv_Warnings->topLevelItem(0), 0);
    QCOMPARE(s->Editor->selectedText(), QStringLiteral("RFF+009:A"));
    // A message without findings: tabs back to their plain captions.
    s->lv_Details->setCurrentItem(s->lv_Details->topLevelItem(0));
    QCOMPARE(s->pc_ErrorWarning->tabText(0), QStringLiteral("Errors (0)"));
    QCOMPARE(s->lv_Errors->topLevelItemCount(), 0);
    QVERIFY(dialogs.Boxes.empty());
  }

  void TheSamplesRunAndASecondRunRefillsEverything() {
    SkipWithoutComponents();
    test::TScriptedDialogs dialogs;
    test::TTestApp app;
    TSheetFileFrm* s = NewSheet(app);
    QSignalSpy progressShown(s->ProgressBar, &QProgressBar::valueChanged);

    // Counts per message of the FILTER mode, from the expected findings of the sample.
    std::map<long long, std::pair<int, int>> counts;
    std::map<std::string, int> errorCodes;
    std::ifstream expected(kSamples + "with-findings.expected");
    for (std::string l; std::getline(expected, l);) {
      if (l.empty() || l[0] == '#') continue;
      std::vector<std::string> f;
      std::stringstream ss(l);
      for (std::string x; std::getline(ss, x, '\t');) f.push_back(x);
      if (f.size() < 7 || ("," + f[1] + ",").find(",FILTER,") == std::string::npos) continue;
      auto& c = counts[std::stoll(f[0])];
      if (f[2] == "error") {
        ++c.first;
        ++errorCodes[f[3]];
      } else if (f[2] == "warning") {
        ++c.second;
      }
    }
    int valid = 0, withErrors = 0, withWarnings = 0;
    for (const auto& [line, c] : counts) {
      (void)line;
      if (c.first)
        ++withErrors;
      else if (c.second)
        ++withWarnings;
      else
        ++valid;
    }
    const int total = static_cast<int>(counts.size());

    QVERIFY(RunFile(s, Q(kSamples + "with-findings.txt")));
    QVERIFY2(dialogs.Boxes.empty(), qPrintable(dialogs.Texts().join('\n')));
    QVERIFY(s->gb_Progress->isHidden());
    QVERIFY(progressShown.count() > 0);
    QVERIFY(s->gb_Result->isVisible());
    const QStringList global = Rows(s->lv_GlobalResult);
    QCOMPARE(global.size(), 4);
    QCOMPARE(global[0].section('|', 0, 1), QStringLiteral("Messages valid|%1").arg(valid));
    QCOMPARE(global[1].section('|', 0, 1), QStringLiteral("Messages with error(s)|%1").arg(withErrors));
    QCOMPARE(global[2].section('|', 0, 1), QStringLiteral("Messages with warning(s)|%1").arg(withWarnings));
    QCOMPARE(global[3], QStringLiteral("Total|%1|").arg(total));

    s->pc_Main->setCurrentIndex(2);
    QStringList byCode;
    int sum = 0;
    for (const auto& [code, n] : errorCodes) {
      byCode << Q(code) + "|" + QString::number(n);
      sum += n;
    }
    QStringList shown = Rows(s->lv_ErrorCode);
    for (QString& r : shown) {
      // The engine's own text follows the code.
      QVERIFY2(!r.section('|', 0, 0).endsWith(QStringLiteral(" : ")), qPrintable(r));
      r = r.section(' ', 0, 0) + "|" + r.section('|', 1, 1);
    }
    QCOMPARE(shown, byCode);
    QVERIFY(sum > 0);

    s->pc_Main->setCurrentIndex(5);
    QVERIFY(s->lv_Details->topLevelItemCount() > 0);
    s->lv_Details->setCurrentItem(s->lv_Details->topLevelItem(1));
    QCOMPARE(s->pc_ErrorWarning->tabText(0), QStringLiteral("Errors (%1)").arg(counts[2].first));
    QVERIFY(s->Editor->Text().startsWith(QStringLiteral("XGH+")));
    const QString firstDb = s->DbFilename();
    QVERIFY(QFileInfo::exists(firstDb));
    {
      // With the names module, the X912 and X916 columns show the referential's labels.
      const QString rawX912 = s->lv_Details->topLevelItem(1)->text(5);
      const QString rawX916 = s->lv_Details->topLevelItem(1)->text(6);
      TTelebibDataModule names;
      names.Connect(kReferential);
      app.Names = &names;
      s->LoadPage(1);  // the page starting at the second message
      QCOMPARE(s->lv_Details->topLevelItem(0)->text(5), Q(names.X912ToStr(rawX912.toInt())));
      QCOMPARE(s->lv_Details->topLevelItem(0)->text(6), Q(names.X916ToStr(rawX916.toStdString())));
      QVERIFY(s->lv_Details->topLevelItem(0)->text(5) != rawX912);
      app.Names = nullptr;
      s->LoadPage(0);
    }
    {
      // The editor's commands need its focus; Search next finds the stored text in it.
      s->lv_Details->setCurrentItem(s->lv_Details->topLevelItem(1));
      Settings().SetSearchText("ATT");
      s->lv_Details->setFocus();
      QVERIFY(!s->CanSearchNext());
      QApplication::setActiveWindow(&app.Window());
      s->Editor->setFocus();
      QTRY_VERIFY(s->Editor->hasFocus());
      QVERIFY(s->CanSearch());
      QVERIFY(s->CanSearchNext());
      s->SearchNext();
      QCOMPARE(s->Editor->selectedText(), QStringLiteral("ATT"));
      QVERIFY(dialogs.Boxes.empty());
    }

    // Second run, another file: everything comes from the new results.
    QVERIFY(RunFile(s, Q(kSamples + "multi-message.txt")));
    QVERIFY(dialogs.Boxes.empty());
    QVERIFY(s->DbFilename() != firstDb);
    QVERIFY(!QFileInfo::exists(firstDb));
    QCOMPARE(s->pc_Main->currentIndex(), 0);
    QCOMPARE(Rows(s->lv_GlobalResult), (QStringList{"Messages valid|3|100.00", "Messages with error(s)|0|0.00",
                                                    "Messages with warning(s)|0|0.00", "Total|3|"}));
    for (int tab : {1, 2, 3, 4}) {
      s->pc_Main->setCurrentIndex(tab);
      const QTreeView* lists[] = {s->lv_ErrorMessage, s->lv_ErrorCode, s->lv_WarningMessage, s->lv_WarningCode};
      QCOMPARE(lists[tab - 1]->model()->rowCount(), 0);
    }
    s->pc_Main->setCurrentIndex(5);
    QCOMPARE(s->lv_Details->topLevelItemCount(), 3);
    QCOMPARE(s->lv_Details->topLevelItem(2)->text(1), QStringLiteral("3"));  // XEH ID
    QVERIFY(s->Editor->Text().isEmpty());

    // Closing deletes the results file, unless kept.
    const QString lastDb = s->DbFilename();
    delete app.Pages()->widget(0);
    QVERIFY(!QFileInfo::exists(lastDb));
  }

  void LineErrorsAskUntilNoAndShowWhatIsStored() {
    SkipWithoutComponents();
    const std::string good = "XGH+1+0039+104512+002'XEH+90+1+0201+1++10'RFF+009:1-ABC-123'XET+90'XGT+1'";
    // X912 that is no number: the line is validated but cannot be stored.
    const std::string bad = "XGH+1+0039+104512+002'XEH+90+1+ABCD+1++10'RFF+009:1-ABC-123'XET+90'XGT+1'";
    struct TCase {
      const char* Name;
      std::vector<std::string> Lines;
      std::vector<TModalResult> Answers;
      int Questions;
      int Stored;
    } cases[] = {
        {"No on the first error", {good, bad, good, good}, {TModalResult::mrNo}, 1, 1},
        {"Yes goes on", {good, bad, good}, {TModalResult::mrYes}, 1, 2},
        {"every line fails",
         {bad, bad, bad, bad},
         {TModalResult::mrYes, TModalResult::mrYes, TModalResult::mrNo},
         3,
         0},
    };
    for (const TCase& c : cases) {
      std::string text;
      for (const std::string& l : c.Lines) text += l + "\r\n";
      const std::string file = WriteFile(FDir, "lines.txt", text);
      test::TScriptedDialogs dialogs;
      dialogs.Answers.assign(c.Answers.begin(), c.Answers.end());
      test::TTestApp app;
      TSheetFileFrm* s = NewSheet(app);
      QVERIFY2(RunFile(s, Q(file)), c.Name);
      QCOMPARE(static_cast<int>(dialogs.Boxes.size()), c.Questions);
      for (const auto& b : dialogs.Boxes) {
        QVERIFY2(b.Text.endsWith(QStringLiteral("\n\nContinue validation ?")), qPrintable(b.Text));
        QVERIFY(b.Text.contains(QStringLiteral("ABCD")));
        QCOMPARE(b.Buttons, unsigned{mbYes | mbNo});
      }
      QCOMPARE(dialogs.Unanswered, 0);
      QVERIFY(s->gb_Result->isVisible());
      QCOMPARE(Rows(s->lv_GlobalResult).last(), QStringLiteral("Total|%1|").arg(c.Stored));
    }
  }

  void FailuresOfTheRunAreShownAndTheSheetStaysUsable() {
    SkipWithoutComponents();
    test::TScriptedDialogs dialogs;
    test::TTestApp app;
    TSheetFileFrm* s = NewSheet(app);
    QVERIFY(RunFile(s, Q(kSamples + "multi-message.txt")));
    QVERIFY(s->gb_Result->isVisible());

    // The file vanishes between choosing and running: Validate is disabled, and a run started
    // anyway ends with the reader's error; no results are shown.
    const std::string vanishing = WriteFile(FDir, "vanishing.txt", "");
    s->cb_Filename->setEditText(Q(vanishing));
    QVERIFY(s->CanValidate());
    fs::remove(vanishing);
    QVERIFY(!s->CanValidate());
    s->Validate();
    QTRY_VERIFY_WITH_TIMEOUT(!s->Running(), 60000);
    QCOMPARE(dialogs.Boxes.size(), std::size_t{1});
    QCOMPARE(dialogs.Boxes[0].Type, TMsgDlgType::mtError);
    QVERIFY(dialogs.Boxes[0].Text.contains(Q(vanishing)));
    QVERIFY(s->gb_Result->isHidden());

    // A results folder that cannot take a file (here: not a folder at all).
    const QByteArray tmp = qgetenv("TMPDIR");
    qputenv("TMPDIR", QByteArray::fromStdString(WriteFile(FDir, "not-a-folder", "") + "/sub"));
    s->cb_Filename->setEditText(Q(kSamples + "multi-message.txt"));
    QVERIFY(s->CanValidate());
    s->Validate();
    qputenv("TMPDIR", tmp);
    QTRY_VERIFY_WITH_TIMEOUT(!s->Running(), 60000);
    QCOMPARE(dialogs.Boxes.size(), std::size_t{2});
    QVERIFY2(dialogs.Boxes[1].Text.startsWith(QStringLiteral("CreateDB failed (")), qPrintable(dialogs.Boxes[1].Text));
    QVERIFY(s->gb_Result->isHidden());
    QVERIFY(s->CanValidate());

    // And it runs again.
    QVERIFY(RunFile(s, Q(kSamples + "multi-message.txt")));
    QCOMPARE(dialogs.Boxes.size(), std::size_t{2});
    QVERIFY(s->gb_Result->isVisible());
  }

  void HistoryHoldsTenAndKnownNamesLeaveIt() {
    SkipWithoutComponents();
    test::TScriptedDialogs dialogs;
    test::TTestApp app;
    TSheetFileFrm* s = NewSheet(app);
    std::vector<std::string> files;
    for (int i = 1; i <= 12; ++i) files.push_back(WriteFile(FDir, "in " + std::to_string(i) + ".txt", ""));
    for (const std::string& f : files) QVERIFY(RunFile(s, Q(f)));
    QCOMPARE(s->cb_Filename->count(), 10);
    QCOMPARE(s->cb_Filename->itemText(0), Q(files[11]));
    const std::string stored = Settings().ValidateFileHistory();
    QCOMPARE(FromCommaText(stored).size(), std::size_t{10});
    QVERIFY(stored.rfind("\"" + files[11] + "\"", 0) == 0);  // a name with a space is quoted
    // Again a name already there, in another case: the list stays as it was.
    const std::string upper = FDir + "/IN 5.TXT";
    fs::copy_file(files[4], upper);
    QVERIFY(RunFile(s, Q(files[4])));
    QVERIFY(RunFile(s, Q(upper)));
    QCOMPARE(Settings().ValidateFileHistory(), stored);
    QCOMPARE(Settings().ValidateFileText(), upper);
    // An empty file: zeros everywhere, an empty details list.
    QCOMPARE(Rows(s->lv_GlobalResult).first(), QStringLiteral("Messages valid|0|0.00"));
    s->pc_Main->setCurrentIndex(5);
    QCOMPARE(s->lv_Details->topLevelItemCount(), 0);
    QVERIFY(dialogs.Boxes.empty());
  }

  void LayoutIsKeptAndKeepDbKeepsTheFile() {
    test::TScriptedDialogs dialogs;
    QString db;
    {
      test::TTestApp app;
      app.KeepDbSwitch = true;
      TSheetFileFrm* s = NewSheet(app);
      db = Q(THandMade::Make({{}}));
      ShowResults(s, db);
      s->pc_Main->setCurrentIndex(5);
      QTRY_VERIFY(s->pn_Bottom->isVisible());
      QTRY_COMPARE(s->pn_Bottom->height(), 179);
      QTRY_COMPARE(s->Editor->width(), 301);
      s->sp_Bottom->setSizes({250, 500});
      emit s->sp_Bottom->splitterMoved(250, 1);
    }
    QVERIFY(QFileInfo::exists(db));
    QCOMPARE(Settings().ReadIntegerDef("SheetFileFrm", "Editor.Width", 0), 250);
    QCOMPARE(Settings().ReadIntegerDef("SheetFileFrm", "pn_Bottom.Height", 0), 179);
    {
      test::TTestApp app;
      TSheetFileFrm* s = NewSheet(app);
      ShowResults(s, db);
      s->pc_Main->setCurrentIndex(5);
      QTRY_COMPARE(s->Editor->width(), 250);
    }
    QVERIFY(!QFileInfo::exists(db));
    QVERIFY(dialogs.Boxes.empty());
  }

  void AResultsFileGoneIsReported() {
    test::TScriptedDialogs dialogs;
    test::TTestApp app;
    TSheetFileFrm* s = NewSheet(app);
    const std::string db = THandMade::Make({{}});
    std::remove(db.c_str());
    ShowResults(s, Q(db));
    QCOMPARE(dialogs.Texts(), QStringList{Q("File \"" + db + "\" not found")});
    QVERIFY(s->gb_Result->isHidden());
  }
};

QTEST_MAIN(FileSheetTest)
#include "FileSheetTest.moc"
