#include "WorkerPool.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <stdexcept>

#include "Format.h"
#include "LineReader.h"
#include "Platform.h"

extern char** environ;

namespace cli {

using verimek::TLineOutcome;

// ---- Framing

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

static std::string Framed(const std::string& bytes) {
  std::uint64_t n = bytes.size();
  std::string frame(8, '\0');
  std::memcpy(frame.data(), &n, 8);
  frame += bytes;
  return frame;
}

void WriteFrame(int fd, const std::string& bytes) {
  const std::string frame = Framed(bytes);
  WriteAll(fd, frame.data(), frame.size());
}

bool ReadFrame(int fd, std::string& bytes) {
  char head[8];
  if (!ReadAll(fd, head, 8)) return false;
  std::uint64_t n;
  std::memcpy(&n, head, 8);
  bytes.resize(n);
  return ReadAll(fd, bytes.data(), n);
}

std::uint32_t Unpacker::U32() {
  std::uint32_t v;
  Take(&v, 4);
  return v;
}

std::int32_t Unpacker::I32() {
  std::int32_t v;
  Take(&v, 4);
  return v;
}

std::string Unpacker::Str() {
  std::uint64_t n;
  Take(&n, 8);
  if (n > FIn.size() - FPos) throw std::runtime_error("Worker process sent a damaged result");
  std::string s = FIn.substr(FPos, n);
  FPos += n;
  return s;
}

void Unpacker::Take(void* p, std::size_t n) {
  if (n > FIn.size() - FPos) throw std::runtime_error("Worker process sent a damaged result");
  std::memcpy(p, FIn.data() + FPos, n);
  FPos += n;
}

static void PackFindings(Packer& p, const std::vector<verimek::TFinding>& list) {
  p.U32(static_cast<std::uint32_t>(list.size()));
  for (const verimek::TFinding& f : list) {
    p.I32(f.SegmentNo);
    p.Str(f.SegmentKey);
    p.Str(f.Code);
    p.Str(f.Message);
  }
}

// Each finding takes at least 28 bytes: a count beyond what is left is damage, not a reason to
// allocate without end.
static void UnpackFindings(Unpacker& u, std::vector<verimek::TFinding>& list, std::size_t left) {
  const std::uint32_t n = u.U32();
  if (n > left / 28) throw std::runtime_error("Worker process sent a damaged result");
  list.resize(n);
  for (verimek::TFinding& f : list) {
    f.SegmentNo = u.I32();
    f.SegmentKey = u.Str();
    f.Code = u.Str();
    f.Message = u.Str();
  }
}

void PackOutcome(Packer& p, const TLineOutcome& o) {
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

void UnpackOutcome(Unpacker& u, TLineOutcome& o) {
  // A message takes at least 36 bytes.
  const std::uint32_t n = u.U32();
  if (n > u.Left() / 36) throw std::runtime_error("Worker process sent a damaged result");
  o.Messages.resize(n);
  for (TLineOutcome::TMessage& m : o.Messages) {
    m.IsPiece = u.U32() != 0;
    m.Piece = u.Str();
    m.Body = u.Str();
    m.Findings.ErrorCount = u.I32();
    m.Findings.WarningCount = u.I32();
    UnpackFindings(u, m.Findings.Errors, u.Left());
    UnpackFindings(u, m.Findings.Warnings, u.Left());
  }
  o.Failed = u.U32() != 0;
  o.Error = u.Str();
}

// ---- Worker side

constexpr std::size_t kSlotSize = 4096;

// The slot is a word shared with the parent: the number of lines this process has started, so
// that the parent can name the line a dying worker held without a message per line.
static volatile std::uint32_t* MapSlot(int fd) {
  void* p = mmap(nullptr, kSlotSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  return p == MAP_FAILED ? nullptr : static_cast<volatile std::uint32_t*>(p);
}

// Batches keep the pipes and process switches off the per-line cost.
int ServeLines(const TLineValidator& validate, int slotFd) {
  signal(SIGPIPE, SIG_IGN);
  volatile std::uint32_t* slot = slotFd >= 0 ? MapSlot(slotFd) : nullptr;
  std::uint32_t started = 0;
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
        PackOutcome(out, validate(in.Str()));
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

// ---- Parent side

// A batch closes at this many lines or bytes (one line always fits, however long); two
// batches per process in flight keep every process busy while the other waits for its turn.
static constexpr std::size_t kBatchLines = 32;
static constexpr std::size_t kBatchBytes = 1u << 20;
static constexpr std::size_t kBatchesPerJob = 2;

static std::runtime_error Failure(const char* what, int err) {
  return std::runtime_error(std::string("Worker process failed (") + what + ": " + std::strerror(err) + ")");
}

using TClock = std::chrono::steady_clock;

// Waits until fd is ready for events or the deadline passes; false at the deadline.
static bool WaitReady(int fd, short events, TClock::time_point deadline) {
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - TClock::now()).count();
    if (left <= 0) return false;
    pollfd p{fd, events, 0};
    const int n = poll(&p, 1, left > INT_MAX ? INT_MAX : static_cast<int>(left) + 1);
    if (n > 0) return true;
    if (n < 0 && errno != EINTR) return true;  // the read or write that follows reports it
  }
}

TProcessLineSource::TProcessLineSource(std::vector<std::string> argv, int jobs, double idleTimeout,
                                       TErrorSink errorSink)
    : FArgv(std::move(argv)), FJobs(jobs), FIdleTimeout(idleTimeout), FErrorSink(std::move(errorSink)) {
  if (!FErrorSink) FErrorSink = [](std::string_view lines) { common::WriteStdErr(lines); };
}

TProcessLineSource::~TProcessLineSource() { Stop(); }

void TProcessLineSource::Begin(verimek::TLineReader& reader, std::size_t count) {
  FReader = &reader;
  FRemaining = count;
  signal(SIGPIPE, SIG_IGN);
  for (int i = 0; i < FJobs; ++i) Spawn();
  FPump = std::thread([this] { PumpErrors(); });
}

bool TProcessLineSource::Next(std::string& line, TLineOutcome& outcome) {
  Fill();
  if (FBatches.empty()) return false;
  TBatch& b = FBatches.front();
  if (b.Outcomes.empty()) {
    const std::string bytes = Receive(b.Child);
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

void TProcessLineSource::Spawn() {
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
  // Our end of the worker's input does not block: a worker that stops reading must not hold
  // this process past the idle time-out.
  fcntl(in[1], F_SETFL, fcntl(in[1], F_GETFL) | O_NONBLOCK);
  int slotFd = memfd_create("verimek-worker-slot", MFD_CLOEXEC);
  volatile std::uint32_t* slot = nullptr;
  if (slotFd >= 0 && ftruncate(slotFd, kSlotSize) == 0) slot = MapSlot(slotFd);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_adddup2(&actions, err[1], 2);
  if (slot) posix_spawn_file_actions_adddup2(&actions, slotFd, 3);
  std::vector<const char*> argv;
  for (const std::string& a : FArgv) argv.push_back(a.c_str());
  if (slot) argv.push_back("3");
  argv.push_back(nullptr);
  pid_t pid = 0;
  int rc = FArgv.empty()
               ? EINVAL
               : posix_spawn(&pid, FArgv[0].c_str(), &actions, nullptr, const_cast<char* const*>(argv.data()), environ);
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

// Copies the workers' standard error to the sink line by line until every worker closed it.
void TProcessLineSource::PumpErrors() {
  std::vector<pollfd> fds;
  for (const TChild& c : FChildren) fds.push_back({c.Err, POLLIN, 0});
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
        if (!p.empty()) FErrorSink(p + "\n");
        p.clear();
        fds[k].fd = -1;
        --open;
        continue;
      }
      p.append(buf, static_cast<std::size_t>(n));
      const std::size_t last = p.rfind('\n');
      if (last != std::string::npos) {
        FErrorSink(std::string_view(p).substr(0, last + 1));
        p.erase(0, last + 1);
      }
    }
  }
}

// Waits up to seconds for the worker to end; false when it is still running.
static bool WaitEnd(pid_t pid, int& status, double seconds) {
  const auto deadline = TClock::now() + std::chrono::duration<double>(seconds);
  for (;;) {
    pid_t w = waitpid(pid, &status, WNOHANG);
    if (w == pid || (w < 0 && errno != EINTR)) return true;
    if (TClock::now() >= deadline) return false;
    usleep(10000);
  }
}

static void KillAndReap(pid_t pid, int& status) {
  kill(pid, SIGKILL);
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
}

void TProcessLineSource::Send(std::size_t index, const std::string& bytes) {
  TChild& c = FChildren[index];
  const std::string frame = Framed(bytes);
  const char* p = frame.data();
  std::size_t n = frame.size();
  auto deadline =
      TClock::now() + std::chrono::duration_cast<TClock::duration>(std::chrono::duration<double>(FIdleTimeout));
  while (n > 0) {
    ssize_t w = ::write(c.In, p, n);
    if (w < 0 && errno == EINTR) continue;
    if (w < 0 && errno == EAGAIN) {
      if (!WaitReady(c.In, POLLOUT, deadline)) throw std::runtime_error(Hung(index));
      continue;
    }
    if (w <= 0) throw std::runtime_error(Death(index));
    p += w;
    n -= static_cast<std::size_t>(w);
    deadline =
        TClock::now() + std::chrono::duration_cast<TClock::duration>(std::chrono::duration<double>(FIdleTimeout));
  }
}

// The next frame from the worker. Its length is only believed as far as bytes arrive, so that a
// damaged length cannot make this process allocate without end.
std::string TProcessLineSource::Receive(std::size_t index) {
  TChild& c = FChildren[index];
  const auto idle = std::chrono::duration_cast<TClock::duration>(std::chrono::duration<double>(FIdleTimeout));
  char head[8];
  std::string bytes;
  std::uint64_t want = 8, got = 0;
  bool inHead = true;
  for (;;) {
    if (inHead && got == 8) {
      std::memcpy(&want, head, 8);
      inHead = false;
      got = 0;
    }
    if (!inHead && got == want) break;
    if (!WaitReady(c.Out, POLLIN, TClock::now() + idle)) throw std::runtime_error(Hung(index));
    char* to;
    std::size_t room;
    if (inHead) {
      to = head + got;
      room = 8 - got;
    } else {
      if (bytes.size() == got)
        bytes.resize(
            static_cast<std::size_t>(std::min<std::uint64_t>(want, std::max<std::uint64_t>(2 * got, 1u << 16))));
      to = bytes.data() + got;
      room = bytes.size() - got;
    }
    ssize_t r = ::read(c.Out, to, room);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) {
      if (inHead && got == 0) throw std::runtime_error(Death(index));
      const std::uint64_t total = inHead ? 8 : 8 + want, had = inHead ? got : 8 + got;
      throw std::runtime_error(Death(index) + common::Fmt("; its result broke off after %s of %s bytes",
                                                          std::to_string(had), std::to_string(total)));
    }
    got += static_cast<std::uint64_t>(r);
  }
  return bytes;
}

// The line the worker held: the slot tells how many of its lines it has started.
std::string TProcessLineSource::Where(std::size_t index) const {
  const TChild& c = FChildren[index];
  const std::size_t started = c.Slot ? *c.Slot : 0;
  for (const TBatch& b : FBatches) {
    if (b.Child != index) continue;
    if (started > c.Answered && started - c.Answered <= b.Lines.size())
      return common::Fmt(" while validating line %d", b.FirstLine + (started - c.Answered) - 1);
    return common::Fmt(" before line %d", b.FirstLine);
  }
  return "";
}

// What became of the worker: its signal or exit status, and the line it held.
std::string TProcessLineSource::Death(std::size_t index) {
  TChild& c = FChildren[index];
  if (!c.Reaped) {
    // A worker whose pipe broke is gone or going; one that lingers is not waited for forever.
    if (!WaitEnd(c.Pid, c.Status, 2)) KillAndReap(c.Pid, c.Status);
    c.Reaped = true;
  }
  std::string how;
  if (WIFSIGNALED(c.Status))
    how = common::Fmt("stopped with signal %d (%s)", WTERMSIG(c.Status), strsignal(WTERMSIG(c.Status)));
  else if (WIFEXITED(c.Status))
    how = common::Fmt("ended with status %d", WEXITSTATUS(c.Status));
  else
    how = "ended";
  return common::Fmt("Worker process %d (pid %d) %s%s", index + 1, static_cast<int>(c.Pid), how, Where(index));
}

// A worker that stopped reading or answering: it is killed, and named with the line it held.
std::string TProcessLineSource::Hung(std::size_t index) {
  TChild& c = FChildren[index];
  const std::string where = Where(index);
  if (!c.Reaped) KillAndReap(c.Pid, c.Status);
  c.Reaped = true;
  return common::Fmt("Worker process %d (pid %d) did not answer for %g s%s", index + 1, static_cast<int>(c.Pid),
                     FIdleTimeout, where);
}

void TProcessLineSource::Fill() {
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
    Send(FNext, out.FOut);
    FNext = (FNext + 1) % FChildren.size();
  }
}

void TProcessLineSource::Stop() {
  for (TChild& c : FChildren) close(c.In);
  for (TChild& c : FChildren) close(c.Out);
  // A worker ends once its input has ended and its batch is done; one that does not is not
  // waited for longer than for an answer.
  for (TChild& c : FChildren) {
    if (!c.Reaped && !WaitEnd(c.Pid, c.Status, FIdleTimeout)) KillAndReap(c.Pid, c.Status);
    c.Reaped = true;
  }
  if (FPump.joinable()) FPump.join();
  for (TChild& c : FChildren) {
    close(c.Err);
    if (c.Slot) munmap(const_cast<std::uint32_t*>(c.Slot), kSlotSize);
  }
  FChildren.clear();
  FBatches.clear();
}

}  // namespace cli
