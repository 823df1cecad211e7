#include "ErrorReporter.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

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
    std::fputs("ErrorReporter: ", stderr);
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fputc('\n', stderr);
  }
  FErrors.push_back(std::move(text));
}

}  // namespace kalvix
