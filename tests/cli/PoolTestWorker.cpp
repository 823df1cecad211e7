// A stand-in worker process for the worker pool's tests. The first argument picks how it
// misbehaves; the pool appends the descriptor of its progress slot.
//   serve     the real worker loop; a line "segv" kills it with that line held, "hang" never
//             returns, "say:TEXT" writes TEXT to standard error in pieces; other lines come
//             back as one message whose body is the line
//   truncate  answers the first batch with a length of 100 and 10 bytes, then ends
//   short     answers with a frame too short for its count
//   count     answers with one outcome more than it was sent lines
//   length    answers with a string whose length runs past the frame
//   deaf      never reads, never answers
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "WorkerPool.h"

using verimek::TLineOutcome;

static TLineOutcome Serve(const std::string& line) {
  if (line == "segv") {
    signal(SIGSEGV, SIG_DFL);  // past a sanitizer's handler, which would exit instead
    raise(SIGSEGV);
  }
  if (line == "hang")
    for (;;) pause();
  if (line.rfind("say:", 0) == 0) {
    const std::string text = line.substr(4) + "\n";
    const std::size_t half = text.size() / 2;
    // Two writes apart in time: the parent must not pass on the first half alone.
    if (write(2, text.data(), half) < 0) return {};
    usleep(50000);
    if (write(2, text.data() + half, text.size() - half) < 0) return {};
  }
  TLineOutcome o;
  o.Messages.resize(1);
  o.Messages[0].Body = line;
  return o;
}

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  const int slotFd = argc > 2 ? std::atoi(argv[2]) : -1;
  if (mode == "serve") return cli::ServeLines(Serve, slotFd);
  if (mode == "deaf")
    for (;;) pause();
  std::string batch;
  if (!cli::ReadFrame(0, batch)) return 3;
  cli::Packer out;
  if (mode == "truncate") {
    const std::uint64_t n = 100;
    std::string bytes(reinterpret_cast<const char*>(&n), 8);
    bytes += std::string(10, 'x');
    return write(1, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size()) ? 0 : 3;
  }
  cli::Unpacker in(batch);
  const std::uint32_t lines = in.U32();
  if (mode == "short") {
    out.U32(lines);
  } else if (mode == "count") {
    out.U32(lines + 1);
    for (std::uint32_t i = 0; i <= lines; ++i) cli::PackOutcome(out, TLineOutcome{});
  } else if (mode == "length") {
    out.U32(lines);
    out.U32(1);  // one message, not a piece, its piece text as long as 1 GB
    out.U32(0);
    const std::uint64_t n = 1u << 30;
    out.FOut.append(reinterpret_cast<const char*>(&n), 8);
    out.FOut.append(40, '\0');  // room for a message, not for the string
  } else {
    return 3;
  }
  cli::WriteFrame(1, out.FOut);
  // Stay until the parent is done with us, as a live worker would.
  char c;
  while (read(0, &c, 1) > 0) {
  }
  return 0;
}
