// The message sheet, headless: loading a 10 MB file of interchanges and a 1 MB single-line
// interchange, selecting the last segment of the long line, and F9 to filled lists on a
// 500-segment message with the built components and the sample referential (registered in
// temporary hives). Each figure is the best of the runs, printed with its ratio to the target
// (below 1 meets it); the longest pause of the event loop during the validations too.
//
//   bench_message_sheet [--repeat R]
#include <stdlib.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <QTreeWidget>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "EdiEditor.h"
#include "SheetMessage.h"
#include "testsupport/SheetFixture.h"

namespace fs = std::filesystem;
using namespace verimek;
using namespace verimek::ui;

namespace {

using Clock = std::chrono::steady_clock;
double Ms(Clock::time_point t0) { return std::chrono::duration<double, std::milli>(Clock::now() - t0).count(); }

// Every pending event, so that the figures include laying out and painting what was loaded.
void Settle() {
  for (int i = 0; i < 3; ++i) QApplication::processEvents();
}

void Report(const char* what, double ms, double targetMs) {
  std::printf("%-44s %9.1f ms   target %6.0f ms   ratio %.3f\n", what, ms, targetMs, ms / targetMs);
}

}  // namespace

int main(int argc, char** argv) {
  int repeat = 5;
  for (int i = 1; i + 1 < argc; ++i)
    if (std::strcmp(argv[i], "--repeat") == 0) repeat = std::max(1, std::atoi(argv[i + 1]));
  ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
  const std::string work = (fs::temp_directory_path() / ("bench-message-sheet-" + std::to_string(getpid()))).string();
  fs::create_directories(work);
  ::setenv("XDG_CONFIG_HOME", work.c_str(), 1);
  if (!testsupport::RegisterBuiltComponents(QString::fromStdString(work))) {
    std::fprintf(stderr, "cannot register the components of %s/lib\n", EDI_BINARY_DIR);
    return 1;
  }
  QApplication app(argc, argv);

  // The inputs: the samples' lines repeated to 10 MB; one interchange of 1 MB on one line; a
  // message of 500 segments, some with findings.
  std::vector<std::string> lines;
  {
    std::ifstream in(EDI_SHARED_DIR "/samples/with-findings.txt", std::ios::binary);
    for (std::string l; std::getline(in, l);) {
      if (!l.empty() && l.back() == '\r') l.pop_back();
      if (!l.empty()) lines.push_back(l);
    }
  }
  if (lines.empty()) return 1;
  const std::string big = work + "/ten-mb.txt", longLine = work + "/one-line.txt";
  {
    std::ofstream out(big, std::ios::binary);
    std::size_t size = 0;
    for (std::size_t i = 0; size < (std::size_t{10} << 20); ++i) {
      const std::string& l = lines[i % lines.size()];
      out << l << "\r\n";
      size += l.size() + 2;
    }
  }
  std::string one = "XGH+1+0039+104512+002'XEH+90+1+0201+1++10'";
  int segments = 2;
  while (one.size() < (std::size_t{1} << 20)) {
    one += "FTX+001+Contrat ?'emis?' suite a votre demande'XRH+1'ATT+A040+1'XRT+1'";
    segments += 2;  // the rubriques get no number
  }
  one += "XET+90'XGT+1'";
  segments += 2;
  std::ofstream(longLine, std::ios::binary) << one;
  QString message = QStringLiteral("XGH+1+0039+104512+002'XEH+90+1+0201+1++10'");
  for (int i = 0; i < 496; ++i) {
    message += i % 50 == 0 ? QStringLiteral("ATT+A020+9'") : QStringLiteral("ATT+A040+1'");
  }
  message += QStringLiteral("XET+90'XGT+1'");

  testsupport::TFakeApp shell(QSize(1000, 700));
  double load10 = 1e30, load1 = 1e30, select = 1e30, validate = 1e30, pause = 0;
  bool selectedLast = false;
  int rows = 0;
  for (int r = 0; r < repeat; ++r) {
    auto t0 = Clock::now();
    TSheetMessageFrm* s = shell.NewSheet<TSheetMessageFrm>();
    s->SetFilename(QString::fromStdString(big));
    Settle();
    load10 = std::min(load10, Ms(t0));
    std::fprintf(stderr, "run %d: 10 MB loaded in %.0f ms\n", r + 1, Ms(t0));
    if (s->Editor->IsEmpty()) {
      std::fprintf(stderr, "the 10 MB file did not load\n");
      return 1;
    }

    t0 = Clock::now();
    TSheetMessageFrm* l = shell.NewSheet<TSheetMessageFrm>();
    l->SetFilename(QString::fromStdString(longLine));
    Settle();
    load1 = std::min(load1, Ms(t0));
    std::fprintf(stderr, "run %d: 1 MB line loaded in %.0f ms\n", r + 1, Ms(t0));

    t0 = Clock::now();
    l->SelectSegment(segments);  // the XGT, counted without the rubriques
    select = std::min(select, Ms(t0));
    selectedLast = l->Editor->selectedText() == QStringLiteral("XGT+1");
    Settle();
    shell.CloseAll();
  }

  // The first validation also loads the referential: it is reported apart.
  TSheetMessageFrm* m = shell.NewSheet<TSheetMessageFrm>();
  m->LoadText(QStringLiteral("m"), message);
  double first = 0;
  for (int r = 0; r <= repeat; ++r) {
    QElapsedTimer gap;
    double longest = 0;
    QTimer tick;
    tick.setInterval(1);
    QObject::connect(&tick, &QTimer::timeout, [&] {
      longest = std::max(longest, static_cast<double>(gap.nsecsElapsed()) / 1e6);
      gap.restart();
    });
    const auto t0 = Clock::now();
    gap.start();
    tick.start();
    m->Validate();
    while (m->ValidateRunning()) QApplication::processEvents(QEventLoop::AllEvents, 5);
    const double ms = Ms(t0);
    tick.stop();
    rows = m->lv_Errors->topLevelItemCount() + m->lv_Warnings->topLevelItemCount();
    if (r == 0) {
      first = ms;
    } else {
      validate = std::min(validate, ms);
      pause = std::max(pause, longest);
    }
  }

  std::printf("message sheet, best of %d runs\n", repeat);
  Report("load 10 MB file", load10, 1000);
  Report("load 1 MB single-line interchange", load1, 1000);
  Report(selectedLast ? "SelectSegment last segment of 1 MB line" : "SelectSegment (WRONG SEGMENT)", select, 50);
  Report("F9 to filled lists, 500 segments", validate, 200);
  std::printf("%-44s %9.1f ms   (first validation, loads the referential)\n", "F9, first", first);
  Report("longest event-loop pause during F9", pause, 100);
  std::printf("rows listed: %d\n", rows);
  fs::remove_all(work);
  return selectedLast && rows > 0 ? 0 : 1;
}
