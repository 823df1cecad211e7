// The trace system: one process-wide TTrace per deliverable that filters records by type and
// hands them to its sinks (event log, text file, CSV file, debug monitor).
//
// Front used everywhere:
//   Trace()->Write("Load(%s)"-style texts are built with WriteFmt, which filters first and
//   formats only when a sink wants the type.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <typeinfo>

#include "Format.h"

namespace common {

enum TTraceType : std::uint8_t { ttUnknown = 0, ttReporting = 1, ttInformation = 2, ttWarning = 3, ttError = 4, ttDebug = 5 };
using TTraceTypes = std::uint8_t;  // bit n = type n

// Class name of a sender object without namespaces ("TControlItem").
std::string TraceClassName(const std::type_info& type);

class TTrace {
 public:
  TTrace();
  ~TTrace();
  TTrace(const TTrace&) = delete;
  TTrace& operator=(const TTrace&) = delete;

  // True when a record of this type would reach a sink (always true in asynchronous mode,
  // where the writer thread filters). Cheap: one atomic load.
  bool Wants(TTraceType type) const noexcept {
    if (!FActive.load(std::memory_order_relaxed)) return false;
    if (FAsyncOn.load(std::memory_order_relaxed)) return true;
    return type <= 7 && ((FTraceTypes.load(std::memory_order_relaxed) >> type) & 1u);
  }

  // Sender "None".
  void Write(std::string_view msg, TTraceType type) noexcept;
  // The core write; an empty sender is written as "None".
  void Write(std::string_view sender, std::string_view msg, TTraceType type) noexcept;
  // Sender = the object's class name, "None" for a null object.
  template <class T>
  void Write(const T* sender, std::string_view msg, TTraceType type) noexcept {
    if (!Wants(type)) return;
    Write(sender ? std::string_view(TraceClassName(typeid(*sender))) : std::string_view("None"), msg, type);
  }
  // Formatted forms: the arguments fill fmt only when the record is wanted.
  template <class... A>
  void WriteFmt(std::string_view sender, TTraceType type, std::string_view fmt, A&&... args) noexcept {
    if (!Wants(type)) return;
    try {
      Write(sender, Fmt(fmt, std::forward<A>(args)...), type);
    } catch (...) {
    }
  }
  template <class T, class... A>
  void WriteFmt(const T* sender, TTraceType type, std::string_view fmt, A&&... args) noexcept {
    if (!Wants(type)) return;
    try {
      Write(sender, Fmt(fmt, std::forward<A>(args)...), type);
    } catch (...) {
    }
  }

 protected:
  std::atomic<bool> FActive{true};
  std::atomic<bool> FAsyncOn{false};
  std::atomic<std::uint8_t> FTraceTypes{0};
};

// The process-wide trace object, created on first call; nullptr if creation failed.
TTrace* Trace();

}  // namespace common
