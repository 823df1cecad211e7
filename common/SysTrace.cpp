// Minimal trace front: no sinks yet, so every record is filtered out.
#include "SysTrace.h"

#include <cxxabi.h>

#include <cstdlib>
#include <memory>

namespace common {

std::string TraceClassName(const std::type_info& type) {
  int status = 0;
  std::unique_ptr<char, void (*)(void*)> d(abi::__cxa_demangle(type.name(), nullptr, nullptr, &status), std::free);
  std::string name = status == 0 && d ? d.get() : type.name();
  std::size_t p = name.rfind("::");
  return p == std::string::npos ? name : name.substr(p + 2);
}

TTrace::TTrace() = default;
TTrace::~TTrace() = default;

void TTrace::Write(std::string_view msg, TTraceType type) noexcept { Write(std::string_view(), msg, type); }
void TTrace::Write(std::string_view, std::string_view, TTraceType) noexcept {}

TTrace* Trace() {
  static TTrace* instance = new TTrace();
  return instance;
}

}  // namespace common
