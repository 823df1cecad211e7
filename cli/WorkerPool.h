// Worker processes for validate --jobs: the pipe framing between the parent and its workers, the
// worker's loop, and the parent's line source that spreads lines over the workers.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "evWorkers.h"

namespace cli {

// A frame is a 64-bit length, then that many bytes. WriteFrame raises when the pipe fails;
// ReadFrame returns false at the end of the input, also when it ends inside a frame.
void WriteFrame(int fd, const std::string& bytes);
bool ReadFrame(int fd, std::string& bytes);

// Fixed-width numbers and length-prefixed strings in the byte order of the machine: both ends
// are the same program on the same machine.
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

// Reads what a Packer wrote; raises "Worker process sent a damaged result" past the end.
class Unpacker {
 public:
  explicit Unpacker(const std::string& s) : FIn(s) {}
  std::uint32_t U32();
  std::int32_t I32();
  std::string Str();
  std::size_t Left() const { return FIn.size() - FPos; }

 private:
  void Take(void* p, std::size_t n);
  const std::string& FIn;
  std::size_t FPos = 0;
};

void PackOutcome(Packer& p, const verimek::TLineOutcome& o);
void UnpackOutcome(Unpacker& u, verimek::TLineOutcome& o);

// The worker side: batches of lines in on standard input, a batch of outcomes out on standard
// output for each, in order, until the input ends. slotFd is the parent's progress slot, or -1.
// Returns 0, or 1 when the parent went away.
using TLineValidator = std::function<verimek::TLineOutcome(const std::string& line)>;
int ServeLines(const TLineValidator& validate, int slotFd);

// The parent side: lines handed in batches round-robin to worker processes, outcomes read back
// in input order. Each worker runs argv with the descriptor number of its progress slot
// appended (when the slot could be made); standard input, output and error are its pipes. The
// workers' standard error reaches errorSink a whole line at a time, so that their lines and
// ours never tear each other. A worker that neither reads nor answers for idleTimeout seconds
// is killed and named: one line may take long, but not forever.
class TProcessLineSource final : public verimek::TLineSource {
 public:
  using TErrorSink = std::function<void(std::string_view lines)>;
  TProcessLineSource(std::vector<std::string> argv, int jobs, double idleTimeout = 600, TErrorSink errorSink = {});
  ~TProcessLineSource() override;
  TProcessLineSource(const TProcessLineSource&) = delete;
  TProcessLineSource& operator=(const TProcessLineSource&) = delete;

  void Begin(verimek::TLineReader& reader, std::size_t count) override;
  bool Next(std::string& line, verimek::TLineOutcome& outcome) override;
  void End() override { Stop(); }

 private:
  struct TChild {
    pid_t Pid;
    int In, Out, Err;
    volatile std::uint32_t* Slot;  // lines the worker has started, when it has a slot
    std::size_t Answered = 0;      // lines whose outcomes were read back
    bool Reaped = false;
    int Status = 0;
  };
  struct TBatch {
    std::size_t Child;
    std::size_t FirstLine;  // 1-based line number of the file
    std::vector<std::string> Lines;
    std::vector<verimek::TLineOutcome> Outcomes;
    std::size_t Next = 0;
  };

  void Spawn();
  void PumpErrors();
  void Fill();
  void Send(std::size_t index, const std::string& bytes);
  std::string Receive(std::size_t index);
  std::string Where(std::size_t index) const;
  std::string Death(std::size_t index);
  std::string Hung(std::size_t index);
  void Stop();

  std::vector<std::string> FArgv;
  int FJobs;
  double FIdleTimeout;
  TErrorSink FErrorSink;
  verimek::TLineReader* FReader = nullptr;
  std::size_t FRemaining = 0;
  std::size_t FLinesSent = 0;
  std::vector<TChild> FChildren;
  std::deque<TBatch> FBatches;
  std::size_t FNext = 0;
  std::thread FPump;
};

}  // namespace cli
