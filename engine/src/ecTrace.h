// Trace helpers of the engine: information lines that cost one atomic load when filtered out.
#pragma once

#include "SysTrace.h"

namespace ruvala {

template <class T, class... A>
inline void TraceInfo(const T* sender, std::string_view fmt, A&&... args) noexcept {
  common::TTrace* t = common::Trace();
  if (t && t->Wants(common::ttInformation)) t->WriteFmt(sender, common::ttInformation, fmt, std::forward<A>(args)...);
}

template <class T, class... A>
inline void TraceType(const T* sender, common::TTraceType type, std::string_view fmt, A&&... args) noexcept {
  common::TTrace* t = common::Trace();
  if (t && t->Wants(type)) t->WriteFmt(sender, type, fmt, std::forward<A>(args)...);
}

}  // namespace ruvala
