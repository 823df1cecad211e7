// The file sheet on big results, headless: results databases of 20 000 and 1 000 000 messages
// written directly with the run's inserts, then the sheet's own steps timed as the user meets
// them: the results shown (global counts), each statistics tab filled, LoadPage at the start,
// the middle and the end, Ctrl+End, and selecting a message. Prints each as milliseconds and as
// a ratio to its limit (100 ms at 20 000 messages, 500 ms at 1 000 000), best of the runs.
// First, a run of the shared samples repeated to 20 000 lines, validated by the worker alone and
// then through the sheet: the sheet's rate as a share of the worker's, and the longest pause of
// the event loop during the run (limit 100 ms).
//
//   bench_file_sheet [--repeat R] [--only N] [--no-run]
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QProgressBar>
#include <QTreeWidget>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "Dialogs.h"
#include "SheetFile.h"
#include "SysSqlite.h"
#include "testsupport/SheetFixture.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace verimek;
using namespace verimek::ui;

double Ms(Clock::time_point t0) { return std::chrono::duration<double, std::milli>(Clock::now() - t0).count(); }

// Answers every box and counts them: a box in the bench is a failure of the step.
class TCountingDialogs final : public TDialogs {
 public:
  TModalResult MessageBox(QWidget*, const QString& text, TMsgDlgType, unsigned) override {
    std::fprintf(stderr, "box: %s\n", text.toUtf8().constData());
    ++Boxes;
    return TModalResult::mrOk;
  }
  QStringList OpenFiles(QWidget*, const TOpenDialogOptions&) override { return {}; }
  QString SaveFile(QWidget*, const TSaveDialogOptions&) override { return {}; }
  int Exec(QDialog&) override { return 0; }
  int Boxes = 0;
};

// No engine here: the code texts stay empty, which costs the sheet nothing more.
TComponentFactory NoComponents() {
  TComponentFactory factory;
  factory.CreateDocument = []() -> edicom::ComPtr<ruvala::IEdiDocument> { return {}; };
  factory.CreateMessage = []() -> edicom::ComPtr<kalvix::IEdiMessage> { return {}; };
  return factory;
}

// A run's database: per message one Messages and one Data row; 40 % valid, 35 % with one to
// three errors, 25 % with warnings only. Texts carry the value found, as the engine's do, so
// that the texts are many more than the codes.
std::string MakeResults(int messages) {
  std::string name = NewTempDbFileName();
  TDatabase db(name, true);
  db.ExecSql("PRAGMA journal_mode=WAL", false);
  db.ExecSql("PRAGMA synchronous=OFF", false);
  CreateResultsSchema(db);
  const std::string body = CompressAndEncode(
      "XGH+1+0039+104512+002'XEH+90+1+0201+1++10'DTM+006:15032021:001'RFF+009:1-ABC-123'ATT+A020+77'"
      "ATT+A021+2'QTY+002:85:KW'XET+90'XGT+1'");
  unsigned seed = 12345;
  auto next = [&] {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 8) & 0xFFFFFF;
  };
  db.BeginTransaction();
  for (int i = 0; i < messages; ++i) {
    const unsigned kind = next() % 100;
    const int errors = kind >= 40 && kind < 75 ? 1 + static_cast<int>(next() % 3) : 0;
    const int warnings = kind >= 75 ? 1 + static_cast<int>(next() % 2) : (errors ? static_cast<int>(next() % 2) : 0);
    db.ExecParams(
        "insert into Messages (XehId, X921, X923, X925, X912, X916, ErrorCount, WarningCount) values (?, ?, ?, ?, ?, "
        "?, ?, ?)",
        {std::int64_t{1}, std::string("0039"), std::string("104512"), std::string("002"),
         static_cast<std::int64_t>(next() % 120), std::string("10"), std::int64_t{errors}, std::int64_t{warnings}},
        true);
    const std::int64_t id = db.LastInsertRowId();
    db.ExecParams("insert into Data (MessageId, XehId, Body) values (?, ?, ?)", {id, std::int64_t{1}, body}, true);
    for (int e = 0; e < errors; ++e) {
      const unsigned code = 1 + next() % 29, value = next() % 200;
      char c[8], t[96];
      std::snprintf(c, sizeof c, "E%04u", code);
      std::snprintf(t, sizeof t, "Invalid value for \"C005:1, X011:1\", found \"%u\" (rule %u)", value, code);
      db.ExecParams(
          "insert into Errors (MessageId, XehId, SegmentNo, SegmentKey, ErrorCode, ErrorMessage) values (?, ?, ?, ?, "
          "?, ?)",
          {id, std::int64_t{1}, std::int64_t{5}, std::string("ATT+A020"), std::string(c), std::string(t)}, true);
    }
    for (int w = 0; w < warnings; ++w) {
      const unsigned code = 1 + next() % 12, value = next() % 100;
      char c[8], t[96];
      std::snprintf(c, sizeof c, "W%04u", code);
      std::snprintf(t, sizeof t, "Obsolete value for \"X010:1\", found \"A%03u\" (rule %u)", value, code);
      db.ExecParams(
          "insert into Warnings (MessageId, XehId, SegmentNo, SegmentKey, WarningCode, WarningMessage) values (?, ?, "
          "?, ?, ?, ?)",
          {id, std::int64_t{1}, std::int64_t{5}, std::string("ATT+A020"), std::string(c), std::string(t)}, true);
    }
    if ((i + 1) % 50000 == 0) {
      db.Commit();
      db.BeginTransaction();
    }
  }
  db.Commit();
  db.ExecSql("PRAGMA journal_mode=DELETE", false);
  return name;
}

struct TStep {
  const char* Name;
  double Best = 1e30;
  void Take(double ms) { Best = std::min(Best, ms); }
};

// Pumps the event loop until done() holds; the longest time one pass of the loop took.
template <class F>
double PumpUntil(F done) {
  double longest = 0;
  for (auto last = Clock::now(); !done(); last = Clock::now()) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    longest = std::max(longest, Ms(last));
  }
  return longest;
}

// The shared samples (valid and with findings) repeated to `lines` lines.
std::string MakeDayFile(int lines) {
  std::string text, sample;
  for (const char* name : {"/samples/valid.txt", "/samples/with-findings.txt"}) {
    std::FILE* f = std::fopen((std::string(EDI_SHARED_DIR) + name).c_str(), "rb");
    if (!f) return {};
    char buf[65536];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) sample.append(buf, n);
    std::fclose(f);
  }
  std::vector<std::string_view> all;
  for (std::size_t p = 0; p < sample.size();) {
    const std::size_t e = std::min(sample.find('\n', p), sample.size());
    if (e > p) all.emplace_back(sample.data() + p, e - p);
    p = e + 1;
  }
  if (all.empty()) return {};
  for (int i = 0; i < lines; ++i) (text += all[static_cast<std::size_t>(i) % all.size()]) += '\n';
  const std::string name = NewTempDbFileName();
  std::FILE* out = std::fopen(name.c_str(), "wb");
  if (!out) return {};
  const bool ok = std::fwrite(text.data(), 1, text.size(), out) == text.size();
  return std::fclose(out) == 0 && ok ? name : std::string();
}

// The run through the worker alone and through the sheet, best of `repeat`; failures counted.
int RunThroughTheSheet(int repeat) {
  constexpr int kLines = 20000;
  if (!testsupport::RegisterBuiltComponentsOnce()) {
    std::fprintf(stderr, "cannot register the build's components\n");
    return 1;
  }
  const std::string input = MakeDayFile(kLines);
  if (input.empty()) {
    std::fprintf(stderr, "no shared samples under %s\n", EDI_SHARED_DIR);
    return 1;
  }
  edicom::DATE date = 0;
  ParseIsoDate("2025-06-30", date);
  double alone = 1e30, viaSheet = 1e30, pause = 1e30;
  for (int r = 0; r < repeat; ++r) {
    testsupport::TFakeApp app(QSize(1200, 800));
    app.UnavailableReason = QStringLiteral("bench");
    {
      const std::string db = NewTempDbFileName();
      bool done = false;
      auto* worker = new TValidateFileWorker(app.WorkerHost(), app.ComponentFactory(), input, db);
      worker->Settings.MessageDate = date;
      worker->ProgressInterval = std::chrono::hours(1);  // alone: no round trip to this thread per line
      worker->FreeOnTerminate = true;
      worker->OnTerminate = [&done](TWorker&) { done = true; };
      const auto t0 = Clock::now();
      worker->Start();
      PumpUntil([&] { return done; });
      alone = std::min(alone, Ms(t0));
      for (const char* ext : {"", "-wal", "-shm"}) std::remove((db + ext).c_str());
    }
    auto* sheet = app.NewSheet<TSheetFileFrm>();
    sheet->MessageDate = date;
    sheet->cb_Filename->setEditText(QString::fromStdString(input));
    QCoreApplication::processEvents();
    const auto t0 = Clock::now();
    sheet->Validate();
    // The run ends where the sheet starts preparing its results.
    const double longest = PumpUntil([&] {
      return !sheet->Running() || sheet->st_ProgressMsg->text() == QStringLiteral("Preparing the results...");
    });
    viaSheet = std::min(viaSheet, Ms(t0));
    pause = std::min(pause, longest);
    PumpUntil([&] { return !sheet->Running(); });
    app.CloseAll();
  }
  std::remove(input.c_str());
  const double share = alone / viaSheet;
  std::printf("run of %d lines: worker alone %.0f messages/s, through the sheet %.0f messages/s, %.2f of alone%s\n",
              kLines, kLines / (alone / 1000.0), kLines / (viaSheet / 1000.0), share,
              share < 0.95 ? "  UNDER 0.95" : "");
  std::printf("  event loop paused %.1f ms at most during the run, %.3f of 100 ms%s\n", pause, pause / 100.0,
              pause > 100.0 ? "  OVER" : "");
  return (share < 0.95 ? 1 : 0) + (pause > 100.0 ? 1 : 0);
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  // The sheet keeps its layout in the settings: those of this run only.
  char home[] = "/tmp/bench-file-sheet-XXXXXX";
  if (!mkdtemp(home)) return 2;
  qputenv("XDG_CONFIG_HOME", home);
  int repeat = 3;
  int only = 0;
  bool run = true;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--repeat") && i + 1 < argc) repeat = std::max(1, std::atoi(argv[++i]));
    if (!std::strcmp(argv[i], "--only") && i + 1 < argc) only = std::atoi(argv[++i]);
    if (!std::strcmp(argv[i], "--no-run")) run = false;
  }
  QApplication qapp(argc, argv);
  TCountingDialogs dialogs;
  SetDialogs(&dialogs);
  int failed = run ? RunThroughTheSheet(repeat) : 0;

  for (const int messages : {20000, 1000000}) {
    if (only && only != messages) continue;
    const double limit = messages <= 20000 ? 100.0 : 500.0;
    auto t0 = Clock::now();
    const std::string db = MakeResults(messages);
    std::printf("%d messages: database written in %.1f s (%s)\n", messages, Ms(t0) / 1000.0, db.c_str());

    TStep steps[] = {{"results shown (global counts)"},
                     {"By Error Message"},
                     {"By Error Code"},
                     {"By Warning Message"},
                     {"By Warning Code"},
                     {"Details, LoadPage 0"},
                     {"LoadPage middle"},
                     {"LoadPage end"},
                     {"Ctrl+End"},
                     {"selecting a message"}};
    double firstOpen = 0, firstPause = 0;
    for (int r = 0; r < repeat; ++r) {
      testsupport::TFakeApp app(QSize(1200, 800), NoComponents());
      app.Keep = true;
      app.UnavailableReason = QStringLiteral("bench");
      auto* sheet = app.NewSheet<TSheetFileFrm>();
      QCoreApplication::processEvents();

      // The first opening makes the indexes on a thread of its own; later ones find them.
      t0 = Clock::now();
      sheet->ShowResultsOf(QString::fromStdString(db));
      double longestPause = 0;
      for (auto last = Clock::now(); sheet->Running(); last = Clock::now()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        longestPause = std::max(longestPause, Ms(last));
      }
      const double shown = Ms(t0);
      if (r == 0) firstOpen = shown, firstPause = longestPause;
      steps[0].Take(shown);
      for (int tabIndex = 1; tabIndex <= 4; ++tabIndex) {
        t0 = Clock::now();
        sheet->pc_Main->setCurrentIndex(tabIndex);
        QCoreApplication::processEvents();
        steps[tabIndex].Take(Ms(t0));
      }
      t0 = Clock::now();
      sheet->pc_Main->setCurrentIndex(5);
      QCoreApplication::processEvents();
      steps[5].Take(Ms(t0));
      const std::int64_t rows = sheet->RowsThatFit();
      t0 = Clock::now();
      sheet->LoadPage(messages / 2);
      QCoreApplication::processEvents();
      steps[6].Take(Ms(t0));
      t0 = Clock::now();
      sheet->LoadPage(messages - rows);
      QCoreApplication::processEvents();
      steps[7].Take(Ms(t0));
      sheet->LoadPage(0);
      sheet->lv_Details->setFocus();
      t0 = Clock::now();
      sheet->DetailsKey(Qt::Key_End, Qt::ControlModifier);
      QCoreApplication::processEvents();
      steps[8].Take(Ms(t0));
      const int n = sheet->lv_Details->topLevelItemCount();
      if (n < 2 || sheet->lv_Details->topLevelItem(n - 1)->text(0).toLongLong() != messages) {
        std::fprintf(stderr, "Ctrl+End did not reach the last message\n");
        ++failed;
      }
      t0 = Clock::now();
      sheet->lv_Details->setCurrentItem(sheet->lv_Details->topLevelItem(n / 2));
      QCoreApplication::processEvents();
      steps[9].Take(Ms(t0));
      app.CloseAll();
    }
    std::printf(
        "  first opening, indexes made off the user-interface thread: %.1f ms, event loop paused %.1f ms at most\n",
        firstOpen, firstPause);
    for (const TStep& s : steps) {
      const double ratio = s.Best / limit;
      std::printf("  %-32s %8.1f ms   %.3f of %.0f ms%s\n", s.Name, s.Best, ratio, limit, ratio > 1 ? "  OVER" : "");
      if (ratio > 1) ++failed;
    }
    std::remove(db.c_str());
  }
  if (dialogs.Boxes) std::printf("boxes shown: %d\n", dialogs.Boxes);
  SetDialogs(nullptr);
  return failed || dialogs.Boxes ? 1 : 0;
}
