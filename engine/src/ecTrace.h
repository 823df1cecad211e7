// Trace helpers of the engine: information lines that cost one atomic load when filtered out.
#pragma once

#include <atomic>

#include "SysTrace.h"

namespace ruvala {

// The process's trace object, kept after the first look-up: it is created once and never freed,
// and the checks trace on every lookup, so even a call to fetch it shows in a profile.
inline common::TTrace* EngineTrace() noexcept {
  static std::atomic<common::TTrace*> kept{nullptr};
  common::TTrace* t = kept.load(std::memory_order_acquire);
  if (!t) {
    t = common::Trace();
    kept.store(t, std::memory_order_release);
  }
  return t;
}

// Formatting and writing stay out of line so that a filtered-out call is only the test.
template <class T, class... A>
[[gnu::noinline, gnu::cold]] void TraceWrite(common::TTrace* t, const T* sender, common::TTraceType type,
                                             std::string_view fmt, A&&... args) noexcept {
  t->WriteFmt(sender, type, fmt, std::forward<A>(args)...);
}

template <class T, class... A>
[[gnu::always_inline]] inline void TraceInfo(const T* sender, std::string_view fmt, A&&... args) noexcept {
  common::TTrace* t = EngineTrace();
  if (t && t->Wants(common::ttInformation)) TraceWrite(t, sender, common::ttInformation, fmt, std::forward<A>(args)...);
}

template <class T, class... A>
[[gnu::always_inline]] inline void TraceType(const T* sender, common::TTraceType type, std::string_view fmt,
                                             A&&... args) noexcept {
  common::TTrace* t = EngineTrace();
  if (t && t->Wants(type)) TraceWrite(t, sender, type, fmt, std::forward<A>(args)...);
}

}  // namespace ruvala
