// validate / results: the file worker from a terminal, with optional worker processes, and
// the file sheet's summary of a results database.
#include <edicom/EdiComCpp.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
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
#include "Format.h"
#include "LineReader.h"
#include "Output.h"
#include "Platform.h"
#include "ResultsReader.h"
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

constexpr std::size_t kSlotSize = 4096;

// ---- Worker process: batches of lines in on standard input, a batch of outcomes out on standard
// output for each, in order. Batches keep the pipes and process switches off the per-line cost.

// The slot is a word shared with the parent: the number of lines this process has started, so
// that the parent can name the line a dying worker held without a message per line.
static volatile std::uint32_t* MapSlot(int fd) {
  void* p = mmap(nullptr, kSlotSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  return p == MAP_FAILED ? nullptr : static_cast<volatile std::uint32_t*>(p);
}

static int ServeLines(const verimek::TValidationSettings& settings, int slotFd) {
  signal(SIGPIPE, SIG_IGN);
  volatile std::uint32_t* slot = slotFd >= 0 ? MapSlot(slotFd) : nullptr;
  std::uint32_t started = 0;
  edicom::ComPtr<ruvala::IEdiDocument> doc;
  try {
    doc = verimek::TComponentFactory::ByClassId().CreateDocument();
  } catch (const std::exception& e) {
    ErrPrintf("verimek-cli: %s\n", e.what());
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
      for (std::uint32_t i = 0; i < count; ++i) {
        if (slot) *slot = ++started;
        PackOutcome(out, verimek::ValidateLineOutcome(doc.Get(), settings, in.Str(), /*EncodeBodies=*/true));
      }
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
// The workers' standard error comes back through this process, a whole line at a time, so that
// their lines and ours never tear each other.
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
    for (int i = 0; i < FJobs; ++i) Spawn(exe, date);
    FPump = std::thread([this] { PumpErrors(); });
  }

  bool Next(std::string& line, TLineOutcome& outcome) override {
    Fill();
    if (FBatches.empty()) return false;
    TBatch& b = FBatches.front();
    if (b.Outcomes.empty()) {
      std::string bytes;
      if (!ReadFrame(FChildren[b.Child].Out, bytes)) throw std::runtime_error(Death(b.Child));
      Unpacker in(bytes);
      if (in.U32() != b.Lines.size()) throw std::runtime_error("Worker process sent a damaged result");
      b.Outcomes.resize(b.Lines.size());
      for (TLineOutcome& o : b.Outcomes) UnpackOutcome(in, o);
      FChildren[b.Child].Answered += b.Lines.size();
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
    int In, Out, Err;
    volatile std::uint32_t* Slot;
    std::size_t Answered = 0;  // lines whose outcomes were read back
    bool Reaped = false;
    int Status = 0;
  };
  struct TBatch {
    std::size_t Child;
    std::size_t FirstLine;  // 1-based line number of the file
    std::vector<std::string> Lines;
    std::vector<TLineOutcome> Outcomes;
    std::size_t Next = 0;
  };
  // A batch closes at this many lines or bytes (one line always fits, however long); two
  // batches per process in flight keep every process busy while the other waits for its turn.
  static constexpr std::size_t kBatchLines = 32;
  static constexpr std::size_t kBatchBytes = 1u << 20;
  static constexpr std::size_t kBatchesPerJob = 2;

  static std::runtime_error Failure(const char* what, int err) {
    return std::runtime_error(std::string("Worker process failed (") + what + ": " + std::strerror(err) + ")");
  }

  void Spawn(const std::string& exe, const char* date) {
    int in[2], out[2], err[2];
    if (pipe2(in, O_CLOEXEC) != 0) throw Failure("pipe", errno);
    if (pipe2(out, O_CLOEXEC) != 0) {
      const int e = errno;
      for (int fd : in) close(fd);
      throw Failure("pipe", e);
    }
    if (pipe2(err, O_CLOEXEC) != 0) {
      const int e = errno;
      for (int fd : {in[0], in[1], out[0], out[1]}) close(fd);
      throw Failure("pipe", e);
    }
    int slotFd = memfd_create("verimek-worker-slot", MFD_CLOEXEC);
    volatile std::uint32_t* slot = nullptr;
    if (slotFd >= 0 && ftruncate(slotFd, kSlotSize) == 0) slot = MapSlot(slotFd);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    if (slot) posix_spawn_file_actions_adddup2(&actions, slotFd, 3);
    const char* argv[] = {exe.c_str(), "validate", "--worker-process", date, slot ? "3" : nullptr, nullptr};
    pid_t pid = 0;
    int rc = posix_spawn(&pid, exe.c_str(), &actions, nullptr, const_cast<char* const*>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    for (int fd : {in[0], out[1], err[1]}) close(fd);
    if (slotFd >= 0) close(slotFd);
    if (rc != 0) {
      for (int fd : {in[1], out[0], err[0]}) close(fd);
      if (slot) munmap(const_cast<std::uint32_t*>(slot), kSlotSize);
      throw Failure("spawn", rc);
    }
    FChildren.push_back({pid, in[1], out[0], err[0], slot});
  }

  // Copies the workers' standard error to ours line by line until every worker closed it.
  void PumpErrors() {
    std::vector<pollfd> fds;
    for (const Child& c : FChildren) fds.push_back({c.Err, POLLIN, 0});
    std::vector<std::string> pending(fds.size());
    std::size_t open = fds.size();
    char buf[8192];
    while (open > 0) {
      if (poll(fds.data(), fds.size(), -1) < 0) {
        if (errno == EINTR) continue;
        break;
      }
      for (std::size_t k = 0; k < fds.size(); ++k) {
        if (fds[k].fd < 0 || !(fds[k].revents & (POLLIN | POLLHUP | POLLERR))) continue;
        ssize_t n = read(fds[k].fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        std::string& p = pending[k];
        if (n <= 0) {
          if (!p.empty()) common::WriteStdErr(p + "\n");
          p.clear();
          fds[k].fd = -1;
          --open;
          continue;
        }
        p.append(buf, static_cast<std::size_t>(n));
        const std::size_t last = p.rfind('\n');
        if (last != std::string::npos) {
          common::WriteStdErr(std::string_view(p).substr(0, last + 1));
          p.erase(0, last + 1);
        }
      }
    }
  }

  static void Reap(Child& c) {
    if (c.Reaped) return;
    // A worker whose pipe broke is gone or going; one that lingers is not waited for forever.
    for (int tries = 0; tries < 200; ++tries) {
      pid_t w = waitpid(c.Pid, &c.Status, WNOHANG);
      if (w == c.Pid || (w < 0 && errno != EINTR)) {
        c.Reaped = true;
        return;
      }
      usleep(10000);
    }
    kill(c.Pid, SIGKILL);
    while (waitpid(c.Pid, &c.Status, 0) < 0 && errno == EINTR) {
    }
    c.Reaped = true;
  }

  // What became of the worker: its signal or exit status, and the line it held.
  std::string Death(std::size_t index) {
    Child& c = FChildren[index];
    Reap(c);
    std::string how;
    if (WIFSIGNALED(c.Status))
      how = common::Fmt("stopped with signal %d (%s)", WTERMSIG(c.Status), strsignal(WTERMSIG(c.Status)));
    else if (WIFEXITED(c.Status))
      how = common::Fmt("ended with status %d", WEXITSTATUS(c.Status));
    else
      how = "ended";
    std::string where;
    const std::size_t started = c.Slot ? *c.Slot : 0;
    for (const TBatch& b : FBatches) {
      if (b.Child != index) continue;
      if (started > c.Answered && started - c.Answered <= b.Lines.size())
        where = common::Fmt(" while validating line %d", b.FirstLine + (started - c.Answered) - 1);
      else
        where = common::Fmt(" before line %d", b.FirstLine);
      break;
    }
    return common::Fmt("Worker process %d (pid %d) %s%s", index + 1, static_cast<int>(c.Pid), how, where);
  }

  void Fill() {
    while (FRemaining > 0 && FBatches.size() < kBatchesPerJob * FChildren.size()) {
      TBatch b;
      b.Child = FNext;
      b.FirstLine = FLinesSent + 1;
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
      FLinesSent += b.Lines.size();
      const auto count = static_cast<std::uint32_t>(b.Lines.size());
      std::memcpy(out.FOut.data(), &count, 4);
      FBatches.push_back(std::move(b));
      try {
        WriteFrame(FChildren[FNext].In, out.FOut);
      } catch (const std::exception&) {
        throw std::runtime_error(Death(FNext));
      }
      FNext = (FNext + 1) % FChildren.size();
    }
  }

  void Stop() {
    for (Child& c : FChildren) close(c.In);
    for (Child& c : FChildren) close(c.Out);
    for (Child& c : FChildren) {
      if (!c.Reaped)
        while (waitpid(c.Pid, &c.Status, 0) < 0 && errno == EINTR) {
        }
      c.Reaped = true;
    }
    if (FPump.joinable()) FPump.join();
    for (Child& c : FChildren) {
      close(c.Err);
      if (c.Slot) munmap(const_cast<std::uint32_t*>(c.Slot), kSlotSize);
    }
    FChildren.clear();
  }

  int FJobs;
  double FDate;
  verimek::TLineReader* FReader = nullptr;
  std::size_t FRemaining = 0;
  std::size_t FLinesSent = 0;
  std::vector<Child> FChildren;
  std::deque<TBatch> FBatches;
  std::size_t FNext = 0;
  std::thread FPump;
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

// ---- Summary: what the file sheet shows of a run, printed.

using verimek::TFileResultsModel;

// The engine's code lists; empty when no engine can be created.
static void LoadCodeTexts(TFileResultsModel& model) {
  edicom::ComPtr<ruvala::IEdiDocument> doc;
  if (edicom::FAILED(edicom::CreateInstance(ruvala::CLSID_EdiDocument, ruvala::IID_IEdiDocument, doc))) {
    edicom::TakeErrorDescription();
    return;
  }
  edicom::BStr e, w;
  TFileResultsModel::TCodeTexts errors, warnings;
  if (edicom::SUCCEEDED(doc->get_ErrorCodeList(e.Put()))) errors = verimek::ParseCodeList(e.Utf8());
  if (edicom::SUCCEEDED(doc->get_WarningCodeList(w.Put()))) warnings = verimek::ParseCodeList(w.Utf8());
  model.SetCodeTexts(std::move(errors), std::move(warnings));
}

struct TSummaryOptions {
  bool Json = false;
  bool ByText = false;
  bool WithLineErrors = false;
  std::size_t LineErrors = 0;
};

static void PrintSummary(TFileResultsModel& model, const TSummaryOptions& o) {
  const std::vector<TFileResultsModel::TGlobalRow> global = model.GlobalRows();
  struct TList {
    const char *Title, *JsonName;
    bool IsText;
    TFileResultsModel::TStatList Stats;
  };
  std::vector<TList> lists = {{"By Error Code", "errorsByCode", false, model.ErrorsByCode()},
                              {"By Warning Code", "warningsByCode", false, model.WarningsByCode()}};
  if (o.ByText) {
    lists.push_back({"By Error Message", "errorsByText", true, model.ErrorsByText()});
    lists.push_back({"By Warning Message", "warningsByText", true, model.WarningsByText()});
  }
  if (o.Json) {
    std::string out = "{\"global\":[";
    for (const auto& g : global) {
      out += std::string("{\"caption\":") + JsonString(g.Caption) + ",\"count\":" + std::to_string(g.Count);
      out += g.Percent.empty() ? "}]" : ",\"percent\":" + g.Percent + "},";
    }
    for (const TList& l : lists) {
      out += std::string(",\"") + l.JsonName + "\":[";
      for (std::size_t i = 0; i < l.Stats.Rows.size(); ++i) {
        const TFileResultsModel::TStatRow& r = l.Stats.Rows[i];
        out += std::string(i ? "," : "") + "{" + (l.IsText ? "" : "\"code\":" + JsonString(r.Key) + ",") +
               "\"text\":" + JsonString(r.Text) + ",\"count\":" + std::to_string(r.Count) +
               ",\"percent\":" + r.Percent + "}";
      }
      out += "]";
    }
    if (o.WithLineErrors) out += ",\"lineErrors\":" + std::to_string(o.LineErrors);
    out += "}\n";
    std::fputs(out.c_str(), stdout);
    return;
  }
  // Counts and percentages first, so that long catalogue texts do not break the columns.
  std::printf("Global Result\n");
  for (const auto& g : global)
    std::printf("  %10lld %8s  %s\n", static_cast<long long>(g.Count), g.Percent.c_str(), g.Caption.c_str());
  for (const TList& l : lists) {
    std::printf("\n%s\n", l.Title);
    for (const TFileResultsModel::TStatRow& r : l.Stats.Rows)
      std::printf("  %10lld %8s  %s\n", static_cast<long long>(r.Count), r.Percent.c_str(), r.Caption.c_str());
  }
  if (o.WithLineErrors && o.LineErrors) std::printf("\nLines that failed: %zu\n", o.LineErrors);
}

// A page of messages as the details list shows it.
static void PrintPage(TFileResultsModel& model, std::int64_t offset, std::int64_t rows, bool json) {
  const std::int64_t total = model.TotalMessages();
  const std::vector<verimek::TMessageRow> page = model.Page(offset, rows);
  if (json) {
    std::string out = "{\"offset\":" + std::to_string(offset < 0 ? 0 : offset) + ",\"total\":" + std::to_string(total) +
                      ",\"messages\":[";
    for (std::size_t i = 0; i < page.size(); ++i) {
      const verimek::TMessageRow& m = page[i];
      out += std::string(i ? "," : "") + "{\"id\":" + std::to_string(m.Id) + ",\"xehId\":" + std::to_string(m.XehId) +
             ",\"x921\":" + JsonString(m.X921) + ",\"x923\":" + JsonString(m.X923) + ",\"x925\":" + JsonString(m.X925) +
             ",\"x912\":" + std::to_string(m.X912) + ",\"x916\":" + JsonString(m.X916) +
             ",\"errors\":" + std::to_string(m.ErrorCount) + ",\"warnings\":" + std::to_string(m.WarningCount) + "}";
    }
    out += "]}\n";
    std::fputs(out.c_str(), stdout);
    return;
  }
  std::printf("ID\tXEH ID\tX921\tX923\tX925\tX912\tX916\tErrors\tWarnings\n");
  for (const verimek::TMessageRow& m : page)
    std::printf("%lld\t%lld\t%s\t%s\t%s\t%lld\t%s\t%lld\t%lld\n", static_cast<long long>(m.Id),
                static_cast<long long>(m.XehId), m.X921.c_str(), m.X923.c_str(), m.X925.c_str(),
                static_cast<long long>(m.X912), m.X916.c_str(), static_cast<long long>(m.ErrorCount),
                static_cast<long long>(m.WarningCount));
  if (!page.empty())
    std::printf("Records %lld to %lld of %lld\n", static_cast<long long>(page.front().Id),
                static_cast<long long>(page.back().Id), static_cast<long long>(total));
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
    return ServeLines(s, args.size() == 3 ? std::atoi(args[2].c_str()) : -1);
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
    worker = std::make_unique<verimek::TValidateFileWorker>(host, verimek::TComponentFactory::ByClassId(), file, dbPath);
  } catch (const std::exception& e) {
    ErrPrintf("verimek-cli: %s\n", e.what());
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
    const TFileResultsModel::TMessage m = model.Message(id, xeh);
    auto rowsOf = [&](const std::vector<verimek::TStoredFinding>& list, bool asJson) {
      std::string out;
      for (const verimek::TStoredFinding& f : list) {
        if (asJson)
          out += std::string(out.empty() ? "" : ",") + "{\"segmentNo\":" + std::to_string(f.SegmentNo) +
                 ",\"segmentKey\":" + JsonString(f.SegmentKey) + ",\"code\":" + JsonString(f.Code) +
                 ",\"message\":" + JsonString(f.Message) + "}";
        else
          out += std::to_string(f.SegmentNo) + "\t" + f.SegmentKey + "\t" + f.Code + "\t" + f.Message + "\n";
      }
      return out;
    };
    if (json) {
      std::printf("{\"id\":%lld,\"xehId\":%lld,\"text\":%s,\"errors\":[%s],\"warnings\":[%s]}\n",
                  static_cast<long long>(id), static_cast<long long>(xeh), JsonString(m.Text).c_str(),
                  rowsOf(m.Errors, true).c_str(), rowsOf(m.Warnings, true).c_str());
    } else {
      std::printf("%s\n\nErrors (%zu)\n%s\nWarnings (%zu)\n%s", m.Text.c_str(), m.Errors.size(),
                  rowsOf(m.Errors, false).c_str(), m.Warnings.size(), rowsOf(m.Warnings, false).c_str());
    }
    return 0;
  } catch (const std::exception& e) {
    ErrPrintf("verimek-cli: %s\n", e.what());
    return 2;
  }
}

}  // namespace cli
