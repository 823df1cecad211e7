#include "ErrorReporter.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "Platform.h"

namespace kalvix {

namespace {
std::atomic<int>& EchoState() {
  static std::atomic<int> state{[] {
    const char* e = std::getenv("KALVIX_ERROR_ECHO");
    return e && (std::strcmp(e, "0") == 0 || std::strcmp(e, "off") == 0) ? 0 : 1;
  }()};
  return state;
}
}  // namespace

bool ErrorReporter::EchoEnabled() { return EchoState().load(std::memory_order_relaxed) != 0; }
void ErrorReporter::SetEchoEnabled(bool on) { EchoState().store(on ? 1 : 0, std::memory_order_relaxed); }

void ErrorReporter::Add(std::string text) {
  if (FEcho && EchoEnabled()) {
    // One write for the whole line: callers read standard error line by line.
    std::string line;
    line.reserve(text.size() + 16);
    line.append("ErrorReporter: ").append(text).push_back('\n');
    common::WriteStdErr(line);
  }
  FErrors.push_back(std::move(text));
}

}  // namespace kalvix
