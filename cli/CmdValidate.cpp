// validate / results: the file worker from a terminal, with optional worker processes
// (WorkerPool), and what the file sheet shows of a results database (ResultsOutput).
#include <edicom/EdiComCpp.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "Commands.h"
#include "Output.h"
#include "Platform.h"
#include "ResultsOutput.h"
#include "ResultsReader.h"
#include "SysSqlite.h"
#include "WorkerPool.h"
#include "evWorkers.h"

namespace cli {

using verimek::TDatabase;
using verimek::TFileResultsModel;

// ---- Progress line

class Progress {
 public:
  explicit Progress(bool on) : FOn(on), FStart(std::chrono::steady_clock::now()) {}
  void Show(int pos, int max, std::size_t messages) {
    if (!FOn || max <= 0) return;
    auto now = std::chrono::steady_clock::now();
    if (pos + 1 < max && now - FLast < std::chrono::milliseconds(200)) return;
    FLast = now;
    double secs = std::chrono::duration<double>(now - FStart).count();
    double rate = secs > 0 ? static_cast<double>(messages) / secs : 0;
    double left = pos > 0 ? secs / pos * (max - pos) : 0;
    const int width = 30;
    int filled = static_cast<int>(static_cast<long long>(width) * (pos + 1) / max);
    std::string bar(static_cast<std::size_t>(filled), '#');
    bar.resize(width, '-');
    ErrPrintf("\r[%s] %d/%d lines  %.0f msg/s  %d:%02d left\033[K", bar.c_str(), pos + 1, max, rate,
              static_cast<int>(left) / 60, static_cast<int>(left) % 60);
    FShown = true;
  }
  void Clear() {
    if (FShown) ErrPrintf("\r\033[K");
    FShown = false;
  }

 private:
  bool FOn;
  bool FShown = false;
  std::chrono::steady_clock::time_point FStart, FLast;
};

// ---- Commands

static void RemoveDatabaseFiles(const std::string& path) {
  for (const char* ext : {"", "-wal", "-shm", "-journal"}) std::remove((path + ext).c_str());
}

// A temporary results database goes with the run, even when the run is interrupted: the
// signal handler removes its files, then the signal ends the process as it would have.
static char gSignalPaths[4][4096];

static void RemoveAndReraise(int sig) {
  for (const char* p : gSignalPaths)
    if (p[0]) unlink(p);
  signal(sig, SIG_DFL);
  raise(sig);
}

static void RemoveOnSignal(const std::string& path) {
  const char* exts[] = {"", "-wal", "-shm", "-journal"};
  for (std::size_t i = 0; i < 4; ++i) {
    const std::string name = path + exts[i];
    if (name.size() >= sizeof gSignalPaths[i]) return;
    std::memcpy(gSignalPaths[i], name.c_str(), name.size() + 1);
  }
  struct sigaction sa {};
  sa.sa_handler = RemoveAndReraise;
  sigemptyset(&sa.sa_mask);
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaction(sig, &sa, nullptr);
}

// A worker process of validate --jobs: validates and encodes the lines its parent sends.
static int ServeWorker(const verimek::TValidationSettings& settings, int slotFd) {
  edicom::ComPtr<ruvala::IEdiDocument> doc;
  try {
    doc = verimek::TComponentFactory::ByClassId().CreateDocument();
  } catch (const std::exception& e) {
    ErrPrintf("verimek-cli: %s\n", e.what());
    return 2;
  }
  return ServeLines(
      [&](const std::string& line) {
        return verimek::ValidateLineOutcome(doc.Get(), settings, line, /*EncodeBodies=*/true);
      },
      slotFd);
}

// The command line of a worker process: this program, validating with the run's message date.
static std::vector<std::string> WorkerCommand(edicom::DATE date) {
  char text[64];
  std::snprintf(text, sizeof text, "%.17g", date);
  return {common::ProgramFileName(), "validate", "--worker-process", text};
}

static int Usage() {
  ErrPrintf(
      "usage: verimek-cli validate FILE [--db PATH] [--keepdb] [--jobs N] [--json] [--stop-on-error]\n"
      "                                 [--message-date YYYY-MM-DD]\n");
  return 2;
}

int CmdValidate(const Args& args) {
  if ((args.size() == 2 || args.size() == 3) && args[0] == "--worker-process") {
    verimek::TValidationSettings s;
    s.MessageDate = std::strtod(args[1].c_str(), nullptr);
    return ServeWorker(s, args.size() == 3 ? std::atoi(args[2].c_str()) : -1);
  }
  std::string file, dbPath;
  bool keepDb = false, json = false, stopOnError = false;
  int jobs = 1;
  edicom::DATE date = verimek::TodayDate();
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    bool hasValue = i + 1 < args.size();
    if (a == "--db" && hasValue) {
      dbPath = args[++i];
      if (dbPath.empty()) {
        ErrPrintf("verimek-cli: --db needs a file name\n");
        return Usage();
      }
    } else if (a == "--keepdb") {
      keepDb = true;
    } else if (a == "--json") {
      json = true;
    } else if (a == "--stop-on-error") {
      stopOnError = true;
    } else if (a == "--jobs" && hasValue) {
      char* end = nullptr;
      long n = std::strtol(args[++i].c_str(), &end, 10);
      if (*end || n < 1 || n > 64) return Usage();
      jobs = static_cast<int>(n);
    } else if (a == "--message-date" && hasValue) {
      if (!verimek::ParseIsoDate(args[++i], date)) {
        ErrPrintf("verimek-cli: invalid date \"%s\" (expecting YYYY-MM-DD)\n", args[i].c_str());
        return 2;
      }
    } else if (!a.empty() && a[0] != '-' && file.empty()) {
      file = a;
    } else {
      return Usage();
    }
  }
  if (file.empty()) return Usage();
  const bool temporary = dbPath.empty();
  if (temporary) {
    try {
      dbPath = verimek::NewTempDbFileName();
    } catch (const std::exception& e) {
      ErrPrintf("verimek-cli: %s\n", e.what());
      return 2;
    }
    if (!keepDb) RemoveOnSignal(dbPath);
  }

  verimek::TDirectWorkerHost host;
  std::unique_ptr<verimek::TValidateFileWorker> worker;
  try {
    worker =
        std::make_unique<verimek::TValidateFileWorker>(host, verimek::TComponentFactory::ByClassId(), file, dbPath);
  } catch (const std::exception& e) {
    ErrPrintf("verimek-cli: %s\n", e.what());
    return 2;
  }
  worker->Settings.MessageDate = date;
  // One job validates ahead on a thread of its own while this thread encodes and stores; more
  // jobs validate and encode in worker processes and this thread only stores.
  std::unique_ptr<verimek::TLineSource> pool;
  if (jobs > 1)
    pool = std::make_unique<TProcessLineSource>(WorkerCommand(date), jobs);
  else
    pool = std::make_unique<verimek::TReadAheadLineSource>(worker->EdiDocument(), worker->Settings);
  worker->LineSource = pool.get();
  Progress progress(isatty(2) != 0);
  int line = 0;
  std::size_t lineErrors = 0;
  // The file worker reports the line it is about to store as Pos of Max lines; before the
  // lines (loading, counting) Max is 0.
  worker->OnProgress = [&](verimek::TWorker& w, const std::string&, int, int max, int pos) {
    if (max <= 0) return;
    line = pos + 1;
    progress.Show(pos, max, static_cast<verimek::TValidateFileWorker&>(w).StoredMessages());
  };
  worker->OnError = [&](verimek::TWorker&, const std::string& msg, bool& cancel) {
    progress.Clear();
    ErrPrintf("%d\t%s\n", line, msg.c_str());
    ++lineErrors;
    cancel = stopOnError;
  };
  worker->Start();
  progress.Clear();
  pool.reset();
  const std::string lastError = worker->LastError();
  const bool storageFailed = worker->StorageFailed();
  worker.reset();

  int rc = 0;
  if (!lastError.empty() && !storageFailed) {
    ErrPrintf("verimek-cli: %s\n", lastError.c_str());
    rc = 2;
  } else {
    try {
      TDatabase db(dbPath, false);
      // Exclusive locking reads a write-ahead log without a shared-memory file: the summary
      // still shows after a run that filled the disk.
      db.ExecSql("PRAGMA locking_mode=EXCLUSIVE", false);
      verimek::TResultsReader reader(db);
      TFileResultsModel model(reader);
      LoadCodeTexts(model);
      TSummaryOptions o;
      o.Json = json;
      o.WithLineErrors = true;
      o.LineErrors = lineErrors;
      PrintSummary(model, o);
      // A line that could not be validated is no success either.
      rc = (reader.Count(verimek::TResultsQuery::WithErrors) > 0 || lineErrors > 0) ? 1 : 0;
    } catch (const std::exception& e) {
      ErrPrintf("verimek-cli: %s\n", e.what());
      rc = 2;
    }
    if (storageFailed) {
      ErrPrintf("verimek-cli: %s\n", lastError.c_str());
      rc = 2;
    }
  }
  if (temporary && !keepDb) {
    RemoveDatabaseFiles(dbPath);
  } else if (!json && common::FileExists(dbPath)) {
    ErrPrintf("results database: %s\n", dbPath.c_str());
  }
  return rc;
}

static bool ParseInt64(const std::string& text, std::int64_t& value, bool& tooLarge) {
  char* end = nullptr;
  errno = 0;
  long long v = std::strtoll(text.c_str(), &end, 10);
  tooLarge = errno == ERANGE;
  if (text.empty() || *end || tooLarge) return false;
  value = v;
  return true;
}

int CmdResults(const Args& args) {
  static const char kUsage[] =
      "usage: verimek-cli results DB [--message ID | --page OFFSET --rows N] [--by-text] [--json]\n";
  std::string dbPath, messageId, pageOffset, pageRows;
  bool json = false, byText = false, bad = false;
  for (std::size_t i = 0; i < args.size() && !bad; ++i) {
    const bool hasValue = i + 1 < args.size();
    if (args[i] == "--message" && hasValue)
      messageId = args[++i];
    else if (args[i] == "--page" && hasValue)
      pageOffset = args[++i];
    else if (args[i] == "--rows" && hasValue)
      pageRows = args[++i];
    else if (args[i] == "--json")
      json = true;
    else if (args[i] == "--by-text")
      byText = true;
    else if (dbPath.empty() && !args[i].empty() && args[i][0] != '-')
      dbPath = args[i];
    else
      bad = true;
  }
  if (bad || dbPath.empty() || (!messageId.empty() && !pageOffset.empty()) || pageOffset.empty() != pageRows.empty()) {
    ErrPrintf("%s", kUsage);
    return 2;
  }
  try {
    verimek::TResultsReader reader(dbPath);
    TFileResultsModel model(reader);
    if (!pageOffset.empty()) {
      std::int64_t offset = 0, rows = 0;
      bool tooLarge = false;
      if (!ParseInt64(pageOffset, offset, tooLarge) || !ParseInt64(pageRows, rows, tooLarge) || rows < 0) {
        ErrPrintf("verimek-cli: invalid page \"%s\" / rows \"%s\"\n", pageOffset.c_str(), pageRows.c_str());
        return 2;
      }
      PrintPage(model, offset, rows, json);
      return 0;
    }
    if (messageId.empty()) {
      LoadCodeTexts(model);
      TSummaryOptions o;
      o.Json = json;
      o.ByText = byText;
      PrintSummary(model, o);
      return 0;
    }
    std::int64_t id = 0;
    bool tooLarge = false;
    if (!ParseInt64(messageId, id, tooLarge))
      throw std::runtime_error("Invalid message id \"" + messageId + "\"" +
                               (tooLarge ? " (too large for a 64-bit number)" : ""));
    const std::int64_t xeh = reader.XehIdOf(id);
    PrintMessage(model, id, xeh, json);
    return 0;
  } catch (const std::exception& e) {
    ErrPrintf("verimek-cli: %s\n", e.what());
    return 2;
  }
}

}  // namespace cli
