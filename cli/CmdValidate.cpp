// validate / results: the file worker from a terminal, with optional worker processes, and
// the file sheet's summary of a results database.
#include <edicom/EdiComCpp.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Commands.h"
#include "LineReader.h"
#include "Platform.h"
#include "SysSqlite.h"
#include "evWorkers.h"

extern char** environ;

namespace cli {

using verimek::TDatabase;
using verimek::TLineOutcome;

// ---- Framing between the parent and its worker processes: a 64-bit length, then the bytes.

static void WriteAll(int fd, const char* p, std::size_t n) {
  while (n > 0) {
    ssize_t w = ::write(fd, p, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) throw std::runtime_error(std::string("Worker process pipe failed (") + std::strerror(errno) + ")");
    p += w;
    n -= static_cast<std::size_t>(w);
  }
}

static bool ReadAll(int fd, char* p, std::size_t n) {
  while (n > 0) {
    ssize_t r = ::read(fd, p, n);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return false;
    p += r;
    n -= static_cast<std::size_t>(r);
  }
  return true;
}

static void WriteFrame(int fd, const std::string& bytes) {
  std::uint64_t n = bytes.size();
  std::string frame(8, '\0');
  std::memcpy(frame.data(), &n, 8);
  frame += bytes;
  WriteAll(fd, frame.data(), frame.size());
}

static bool ReadFrame(int fd, std::string& bytes) {
  char head[8];
  if (!ReadAll(fd, head, 8)) return false;
  std::uint64_t n;
  std::memcpy(&n, head, 8);
  bytes.resize(n);
  return ReadAll(fd, bytes.data(), n);
}

class Packer {
 public:
  void U32(std::uint32_t v) { FOut.append(reinterpret_cast<const char*>(&v), 4); }
  void I32(std::int32_t v) { FOut.append(reinterpret_cast<const char*>(&v), 4); }
  void Str(const std::string& s) {
    std::uint64_t n = s.size();
    FOut.append(reinterpret_cast<const char*>(&n), 8);
    FOut.append(s);
  }
  std::string FOut;
};

class Unpacker {
 public:
  explicit Unpacker(const std::string& s) : FIn(s) {}
  std::uint32_t U32() {
    std::uint32_t v;
    Take(&v, 4);
    return v;
  }
  std::int32_t I32() {
    std::int32_t v;
    Take(&v, 4);
    return v;
  }
  std::string Str() {
    std::uint64_t n;
    Take(&n, 8);
    if (n > FIn.size() - FPos) throw std::runtime_error("Worker process sent a damaged result");
    std::string s = FIn.substr(FPos, n);
    FPos += n;
    return s;
  }

 private:
  void Take(void* p, std::size_t n) {
    if (n > FIn.size() - FPos) throw std::runtime_error("Worker process sent a damaged result");
    std::memcpy(p, FIn.data() + FPos, n);
    FPos += n;
  }
  const std::string& FIn;
  std::size_t FPos = 0;
};

static void PackFindings(Packer& p, const std::vector<verimek::TFinding>& list) {
  p.U32(static_cast<std::uint32_t>(list.size()));
  for (const verimek::TFinding& f : list) {
    p.I32(f.SegmentNo);
    p.Str(f.SegmentKey);
    p.Str(f.Code);
    p.Str(f.Message);
  }
}

static void UnpackFindings(Unpacker& u, std::vector<verimek::TFinding>& list) {
  list.resize(u.U32());
  for (verimek::TFinding& f : list) {
    f.SegmentNo = u.I32();
    f.SegmentKey = u.Str();
    f.Code = u.Str();
    f.Message = u.Str();
  }
}

static void PackOutcome(Packer& p, const TLineOutcome& o) {
  p.U32(static_cast<std::uint32_t>(o.Messages.size()));
  for (const TLineOutcome::TMessage& m : o.Messages) {
    p.U32(m.IsPiece ? 1 : 0);
    p.Str(m.Piece);
    p.Str(m.Body);
    p.I32(m.Findings.ErrorCount);
    p.I32(m.Findings.WarningCount);
    PackFindings(p, m.Findings.Errors);
    PackFindings(p, m.Findings.Warnings);
  }
  p.U32(o.Failed ? 1 : 0);
  p.Str(o.Error);
}

static void UnpackOutcome(Unpacker& u, TLineOutcome& o) {
  o.Messages.resize(u.U32());
  for (TLineOutcome::TMessage& m : o.Messages) {
    m.IsPiece = u.U32() != 0;
    m.Piece = u.Str();
    m.Body = u.Str();
    m.Findings.ErrorCount = u.I32();
    m.Findings.WarningCount = u.I32();
    UnpackFindings(u, m.Findings.Errors);
    UnpackFindings(u, m.Findings.Warnings);
  }
  o.Failed = u.U32() != 0;
  o.Error = u.Str();
}

// ---- Worker process: batches of lines in on standard input, a batch of outcomes out on standard
// output for each, in order. Batches keep the pipes and process switches off the per-line cost.

static int ServeLines(const verimek::TValidationSettings& settings) {
  signal(SIGPIPE, SIG_IGN);
  edicom::ComPtr<ruvala::IEdiDocument> doc;
  try {
    doc = verimek::TComponentFactory::ByClassId().CreateDocument();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "verimek-cli: %s\n", e.what());
    return 2;
  }
  // A reader thread drains standard input so that the parent never blocks writing to us
  // while we block writing our results to it.
  std::mutex mutex;
  std::condition_variable ready;
  std::deque<std::string> queue;
  bool eof = false;
  std::thread reader([&] {
    std::string batch;
    while (ReadFrame(0, batch)) {
      std::lock_guard<std::mutex> lock(mutex);
      queue.push_back(std::move(batch));
      ready.notify_one();
    }
    std::lock_guard<std::mutex> lock(mutex);
    eof = true;
    ready.notify_one();
  });
  int rc = 0;
  try {
    for (;;) {
      std::string batch;
      {
        std::unique_lock<std::mutex> lock(mutex);
        ready.wait(lock, [&] { return eof || !queue.empty(); });
        if (queue.empty()) break;
        batch = std::move(queue.front());
        queue.pop_front();
      }
      Unpacker in(batch);
      Packer out;
      const std::uint32_t count = in.U32();
      out.U32(count);
      for (std::uint32_t i = 0; i < count; ++i)
        PackOutcome(out, verimek::ValidateLineOutcome(doc.Get(), settings, in.Str(), /*EncodeBodies=*/true));
      WriteFrame(1, out.FOut);
    }
  } catch (const std::exception&) {
    rc = 1;  // the parent went away
  }
  // Unblock the reader when we stop early: the parent closes our input when it is done.
  close(0);
  reader.join();
  return rc;
}

// Lines handed in batches round-robin to worker processes; outcomes read back in input order.
class TProcessLineSource final : public verimek::TLineSource {
 public:
  TProcessLineSource(int jobs, double messageDate) : FJobs(jobs), FDate(messageDate) {}
  ~TProcessLineSource() override { Stop(); }
  void End() override { Stop(); }

  void Begin(verimek::TLineReader& reader, std::size_t count) override {
    FReader = &reader;
    FRemaining = count;
    signal(SIGPIPE, SIG_IGN);
    const std::string exe = common::ProgramFileName();
    char date[64];
    std::snprintf(date, sizeof date, "%.17g", FDate);
    for (int i = 0; i < FJobs; ++i) {
      int in[2], out[2];
      if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0)
        throw std::runtime_error(std::string("Worker process failed (") + std::strerror(errno) + ")");
      posix_spawn_file_actions_t actions;
      posix_spawn_file_actions_init(&actions);
      posix_spawn_file_actions_adddup2(&actions, in[0], 0);
      posix_spawn_file_actions_adddup2(&actions, out[1], 1);
      const char* argv[] = {exe.c_str(), "validate", "--worker-process", date, nullptr};
      pid_t pid = 0;
      int rc = posix_spawn(&pid, exe.c_str(), &actions, nullptr, const_cast<char* const*>(argv), environ);
      posix_spawn_file_actions_destroy(&actions);
      close(in[0]);
      close(out[1]);
      if (rc != 0) {
        close(in[1]);
        close(out[0]);
        throw std::runtime_error(std::string("Worker process failed (") + std::strerror(rc) + ")");
      }
      FChildren.push_back({pid, in[1], out[0]});
    }
  }

  bool Next(std::string& line, TLineOutcome& outcome) override {
    Fill();
    if (FBatches.empty()) return false;
    TBatch& b = FBatches.front();
    if (b.Outcomes.empty()) {
      std::string bytes;
      if (!ReadFrame(FChildren[b.Child].Out, bytes)) throw std::runtime_error("Worker process ended unexpectedly");
      Unpacker in(bytes);
      if (in.U32() != b.Lines.size()) throw std::runtime_error("Worker process sent a damaged result");
      b.Outcomes.resize(b.Lines.size());
      for (TLineOutcome& o : b.Outcomes) UnpackOutcome(in, o);
    }
    line = std::move(b.Lines[b.Next]);
    outcome = std::move(b.Outcomes[b.Next]);
    if (++b.Next == b.Lines.size()) FBatches.pop_front();
    Fill();
    return true;
  }

 private:
  struct Child {
    pid_t Pid;
    int In, Out;
  };
  struct TBatch {
    std::size_t Child;
    std::vector<std::string> Lines;
    std::vector<TLineOutcome> Outcomes;
    std::size_t Next = 0;
  };
  // A batch closes at this many lines or bytes (one line always fits, however long); two
  // batches per process in flight keep every process busy while the other waits for its turn.
  static constexpr std::size_t kBatchLines = 32;
  static constexpr std::size_t kBatchBytes = 1u << 20;
  static constexpr std::size_t kBatchesPerJob = 2;

  void Fill() {
    while (FRemaining > 0 && FBatches.size() < kBatchesPerJob * FChildren.size()) {
      TBatch b;
      b.Child = FNext;
      Packer out;
      out.U32(0);
      std::size_t bytes = 0;
      std::string line;
      while (FRemaining > 0 && b.Lines.size() < kBatchLines && bytes < kBatchBytes) {
        if (!FReader->ReadLine(line)) {
          FRemaining = 0;
          break;
        }
        --FRemaining;
        bytes += line.size();
        out.Str(line);
        b.Lines.push_back(std::move(line));
      }
      if (b.Lines.empty()) break;
      const auto count = static_cast<std::uint32_t>(b.Lines.size());
      std::memcpy(out.FOut.data(), &count, 4);
      WriteFrame(FChildren[FNext].In, out.FOut);
      FBatches.push_back(std::move(b));
      FNext = (FNext + 1) % FChildren.size();
    }
  }

  void Stop() {
    for (Child& c : FChildren) close(c.In);
    for (Child& c : FChildren) close(c.Out);
    for (Child& c : FChildren) {
      int status = 0;
      while (waitpid(c.Pid, &status, 0) < 0 && errno == EINTR) {
      }
    }
    FChildren.clear();
  }

  int FJobs;
  double FDate;
  verimek::TLineReader* FReader = nullptr;
  std::size_t FRemaining = 0;
  std::vector<Child> FChildren;
  std::deque<TBatch> FBatches;
  std::size_t FNext = 0;
};

// Counts the messages stored, for the progress line.
class TCountingDatabase final : public TDatabase {
 public:
  using TDatabase::TDatabase;
  void ExecParams(const std::string& sql, const std::vector<verimek::TSqlValue>& p, bool check) override {
    TDatabase::ExecParams(sql, p, check);
    if (sql.rfind("INSERT INTO [Messages]", 0) == 0) ++Messages;
  }
  std::size_t Messages = 0;
};

// ---- Summary

// Comma text: items split at commas (or blanks and controls) outside double quotes; "" inside quotes is ".
static std::vector<std::pair<std::string, std::string>> ParseCodeList(const std::string& text) {
  std::vector<std::pair<std::string, std::string>> out;
  std::size_t i = 0;
  const std::size_t n = text.size();
  while (i < n) {
    while (i < n && (text[i] == ',' || static_cast<unsigned char>(text[i]) <= ' ')) ++i;
    if (i >= n) break;
    std::string item;
    if (text[i] == '"') {
      ++i;
      while (i < n) {
        if (text[i] == '"') {
          if (i + 1 < n && text[i + 1] == '"') {
            item.push_back('"');
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        item.push_back(text[i++]);
      }
    } else {
      while (i < n && text[i] != ',' && static_cast<unsigned char>(text[i]) > ' ') item.push_back(text[i++]);
    }
    std::size_t eq = item.find('=');
    if (eq == std::string::npos)
      out.emplace_back(item, "");
    else
      out.emplace_back(item.substr(0, eq), item.substr(eq + 1));
  }
  return out;
}

struct CodeTexts {
  std::vector<std::pair<std::string, std::string>> Errors, Warnings;
  static std::string Find(const std::vector<std::pair<std::string, std::string>>& list, const std::string& code) {
    for (const auto& [c, t] : list)
      if (c == code) return t;
    return "";
  }
};

// The engine's code lists; empty when no engine can be created.
static CodeTexts LoadCodeTexts() {
  CodeTexts t;
  edicom::ComPtr<ruvala::IEdiDocument> doc;
  if (edicom::FAILED(edicom::CreateInstance(ruvala::CLSID_EdiDocument, ruvala::IID_IEdiDocument, doc))) {
    edicom::TakeErrorDescription();
    return t;
  }
  edicom::BStr e, w;
  if (edicom::SUCCEEDED(doc->get_ErrorCodeList(e.Put()))) t.Errors = ParseCodeList(e.Utf8());
  if (edicom::SUCCEEDED(doc->get_WarningCodeList(w.Put()))) t.Warnings = ParseCodeList(w.Utf8());
  return t;
}

static std::string Percent(std::int64_t count, std::int64_t total) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.2f", total > 0 ? 100.0 * static_cast<double>(count) / static_cast<double>(total) : 0.0);
  return buf;
}

static std::string Json(const std::string& s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          out += buf;
        } else {
          out.push_back(static_cast<char>(c));
        }
    }
  }
  return out + "\"";
}

struct CodeRow {
  std::string Code, Text;
  std::int64_t Count;
};

static std::vector<CodeRow> ByCode(TDatabase& db, const char* sql,
                                   const std::vector<std::pair<std::string, std::string>>& texts,
                                   std::int64_t& total) {
  std::vector<CodeRow> rows;
  total = 0;
  for (auto t = db.GetTable(sql); !t->Eof(); t->Next()) {
    rows.push_back({t->AsString("Code"), "", t->AsInteger("Count")});
    rows.back().Text = CodeTexts::Find(texts, rows.back().Code);
    total += rows.back().Count;
  }
  return rows;
}

struct Summary {
  std::int64_t Valid, WithErrors, WithWarnings, Total;
  std::vector<CodeRow> Errors, Warnings;
  std::int64_t ErrorTotal, WarningTotal;
};

static Summary ReadSummary(TDatabase& db, const CodeTexts& texts) {
  Summary s;
  s.Valid = db.GetTableValue("Select count(*) from Messages where ErrorCount = 0 and WarningCount = 0");
  s.WithErrors = db.GetTableValue("Select count(*) from Messages where ErrorCount <> 0");
  s.WithWarnings = db.GetTableValue("Select count(*) from Messages where ErrorCount = 0 and WarningCount <> 0");
  s.Total = db.GetTableValue("Select count(*) from Messages");
  s.Errors = ByCode(db, "select ErrorCode as Code, count(*) as Count from errors group by ErrorCode order by ErrorCode",
                    texts.Errors, s.ErrorTotal);
  s.Warnings = ByCode(
      db, "select WarningCode as Code, count(*) as Count from Warnings group by WarningCode order by WarningCode",
      texts.Warnings, s.WarningTotal);
  return s;
}

static void PrintSummary(const Summary& s, bool json, std::size_t lineErrors, bool withLineErrors) {
  const std::pair<const char*, std::int64_t> global[] = {
      {"Messages valid", s.Valid}, {"Messages with error(s)", s.WithErrors}, {"Messages with warning(s)", s.WithWarnings}};
  if (json) {
    std::string out = "{\"global\":[";
    for (const auto& [caption, count] : global)
      out += std::string("{\"caption\":") + Json(caption) + ",\"count\":" + std::to_string(count) +
             ",\"percent\":" + Percent(count, s.Total) + "},";
    out += "{\"caption\":\"Total\",\"count\":" + std::to_string(s.Total) + "}]";
    auto list = [&](const char* name, const std::vector<CodeRow>& rows, std::int64_t total) {
      out += std::string(",\"") + name + "\":[";
      for (std::size_t i = 0; i < rows.size(); ++i)
        out += std::string(i ? "," : "") + "{\"code\":" + Json(rows[i].Code) + ",\"text\":" + Json(rows[i].Text) +
               ",\"count\":" + std::to_string(rows[i].Count) + ",\"percent\":" + Percent(rows[i].Count, total) + "}";
      out += "]";
    };
    list("errorsByCode", s.Errors, s.ErrorTotal);
    list("warningsByCode", s.Warnings, s.WarningTotal);
    if (withLineErrors) out += ",\"lineErrors\":" + std::to_string(lineErrors);
    out += "}\n";
    std::fputs(out.c_str(), stdout);
    return;
  }
  // Counts and percentages first, so that long catalogue texts do not break the columns.
  std::printf("Global Result\n");
  for (const auto& [caption, count] : global)
    std::printf("  %10lld %8s  %s\n", static_cast<long long>(count), Percent(count, s.Total).c_str(), caption);
  std::printf("  %10lld %8s  %s\n", static_cast<long long>(s.Total), "", "Total");
  auto table = [](const char* title, const std::vector<CodeRow>& rows, std::int64_t total) {
    std::printf("\n%s\n", title);
    for (const CodeRow& r : rows) {
      std::string caption = r.Code + " : " + r.Text;
      std::printf("  %10lld %8s  %s\n", static_cast<long long>(r.Count), Percent(r.Count, total).c_str(),
                  caption.c_str());
    }
  };
  table("By Error Code", s.Errors, s.ErrorTotal);
  table("By Warning Code", s.Warnings, s.WarningTotal);
  if (withLineErrors && lineErrors) std::printf("\nLines that failed: %zu\n", lineErrors);
}

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
    std::fprintf(stderr, "\r[%s] %d/%d lines  %.0f msg/s  %d:%02d left\033[K", bar.c_str(), pos + 1, max, rate,
                 static_cast<int>(left) / 60, static_cast<int>(left) % 60);
    FShown = true;
  }
  void Clear() {
    if (FShown) std::fprintf(stderr, "\r\033[K");
    FShown = false;
  }

 private:
  bool FOn;
  bool FShown = false;
  std::chrono::steady_clock::time_point FStart, FLast;
};

// ---- Commands

static int Usage() {
  std::fprintf(stderr,
               "usage: verimek-cli validate FILE [--db PATH] [--keepdb] [--jobs N] [--json] [--stop-on-error]\n"
               "                                 [--message-date YYYY-MM-DD]\n");
  return 2;
}

int CmdValidate(const Args& args) {
  if (args.size() == 2 && args[0] == "--worker-process") {
    verimek::TValidationSettings s;
    s.MessageDate = std::strtod(args[1].c_str(), nullptr);
    return ServeLines(s);
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
        std::fprintf(stderr, "verimek-cli: invalid date \"%s\" (expecting YYYY-MM-DD)\n", args[i].c_str());
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
  if (temporary) dbPath = verimek::NewTempDbFileName();

  verimek::TDirectWorkerHost host;
  std::unique_ptr<verimek::TValidateFileWorker> worker;
  try {
    worker = std::make_unique<verimek::TValidateFileWorker>(host, verimek::TComponentFactory::ByClassId(), file, dbPath);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "verimek-cli: %s\n", e.what());
    return 2;
  }
  worker->Settings.MessageDate = date;
  TCountingDatabase* counting = nullptr;
  worker->DatabaseFactory = [&](const std::string& name) {
    auto db = std::make_unique<TCountingDatabase>(name, true);
    counting = db.get();
    return db;
  };
  // One job validates ahead on a thread of its own while this thread encodes and stores; more
  // jobs validate and encode in worker processes and this thread only stores.
  std::unique_ptr<verimek::TLineSource> pool;
  if (jobs > 1)
    pool = std::make_unique<TProcessLineSource>(jobs, date);
  else
    pool = std::make_unique<verimek::TReadAheadLineSource>(worker->EdiDocument(), worker->Settings);
  worker->LineSource = pool.get();
  Progress progress(isatty(2) != 0);
  int line = 0;
  std::size_t lineErrors = 0;
  worker->OnProgress = [&](verimek::TWorker&, const std::string& msg, int, int max, int pos) {
    if (msg.rfind("Validation in progress...", 0) == 0 && msg.size() > 25) {
      line = pos + 1;
      progress.Show(pos, max, counting ? counting->Messages : 0);
    }
  };
  worker->OnError = [&](verimek::TWorker&, const std::string& msg, bool& cancel) {
    progress.Clear();
    std::fprintf(stderr, "%d\t%s\n", line, msg.c_str());
    ++lineErrors;
    cancel = stopOnError;
  };
  worker->Start();
  progress.Clear();
  pool.reset();
  const std::string lastError = worker->LastError();
  worker.reset();

  int rc = 0;
  if (!lastError.empty()) {
    std::fprintf(stderr, "verimek-cli: %s\n", lastError.c_str());
    rc = 2;
  } else {
    try {
      TDatabase db(dbPath, false);
      Summary s = ReadSummary(db, LoadCodeTexts());
      PrintSummary(s, json, lineErrors, true);
      // A line that could not be validated is no success either.
      rc = (s.WithErrors > 0 || lineErrors > 0) ? 1 : 0;
    } catch (const std::exception& e) {
      std::fprintf(stderr, "verimek-cli: %s\n", e.what());
      rc = 2;
    }
  }
  if (temporary && !keepDb) {
    for (const char* ext : {"", "-wal", "-shm"}) std::remove((dbPath + ext).c_str());
  } else if (!json) {
    std::fprintf(stderr, "results database: %s\n", dbPath.c_str());
  }
  return rc;
}

int CmdResults(const Args& args) {
  std::string dbPath, messageId;
  bool json = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--message" && i + 1 < args.size())
      messageId = args[++i];
    else if (args[i] == "--json")
      json = true;
    else if (dbPath.empty() && !args[i].empty() && args[i][0] != '-')
      dbPath = args[i];
    else
      dbPath.clear(), i = args.size();
  }
  if (dbPath.empty()) {
    std::fprintf(stderr, "usage: verimek-cli results DB [--message ID] [--json]\n");
    return 2;
  }
  try {
    TDatabase db(dbPath, false);
    if (messageId.empty()) {
      Summary s = ReadSummary(db, LoadCodeTexts());
      PrintSummary(s, json, 0, false);
      return 0;
    }
    char* end = nullptr;
    long long id = std::strtoll(messageId.c_str(), &end, 10);
    if (messageId.empty() || *end) throw std::runtime_error("Invalid message id \"" + messageId + "\"");
    const std::string ids = std::to_string(id);
    auto m = db.GetTable("select * from Messages where Id = %s", {ids});
    if (m->Eof()) throw std::runtime_error("Message " + ids + " not found");
    const std::string xeh = m->AsString("XehId");
    auto body = db.GetTable("select body from data where MessageId = %s and xehid = %s", {ids, xeh});
    if (body->RowCount() != 1)
      throw std::runtime_error("Message " + ids + " has " + std::to_string(body->RowCount()) + " texts");
    const std::string text = verimek::DecodeAndDecompress(body->AsString("body"));
    auto errors = db.GetTable("select * from Errors where MessageId = %s and xehid = %s", {ids, xeh});
    auto warnings = db.GetTable("select * from Warnings where MessageId = %s and xehid = %s", {ids, xeh});
    auto rows = [&](verimek::TTable& t, const char* codeCol, const char* msgCol, bool asJson) {
      std::string out;
      for (t.First(); !t.Eof(); t.Next()) {
        if (asJson)
          out += std::string(out.empty() ? "" : ",") + "{\"segmentNo\":" + std::to_string(t.AsInteger("SegmentNo")) +
                 ",\"segmentKey\":" + Json(t.AsString("SegmentKey")) + ",\"code\":" + Json(t.AsString(codeCol)) +
                 ",\"message\":" + Json(t.AsString(msgCol)) + "}";
        else
          out += std::to_string(t.AsInteger("SegmentNo")) + "\t" + t.AsString("SegmentKey") + "\t" +
                 t.AsString(codeCol) + "\t" + t.AsString(msgCol) + "\n";
      }
      return out;
    };
    if (json) {
      std::printf("{\"id\":%s,\"xehId\":%s,\"text\":%s,\"errors\":[%s],\"warnings\":[%s]}\n", ids.c_str(),
                  xeh.c_str(), Json(text).c_str(), rows(*errors, "ErrorCode", "ErrorMessage", true).c_str(),
                  rows(*warnings, "WarningCode", "WarningMessage", true).c_str());
    } else {
      std::printf("%s\n\nErrors (%zu)\n%s\nWarnings (%zu)\n%s", text.c_str(), errors->RowCount(),
                  rows(*errors, "ErrorCode", "ErrorMessage", false).c_str(), warnings->RowCount(),
                  rows(*warnings, "WarningCode", "WarningMessage", false).c_str());
    }
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "verimek-cli: %s\n", e.what());
    return 2;
  }
}

}  // namespace cli
