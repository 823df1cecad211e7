// The trace system: one process-wide TTrace per deliverable that filters records by type and
// hands them to its sinks (event log, text file, CSV file, debug monitor).
//
// Front used everywhere:
//   Trace()->Write(this, "Validate()", ttInformation);
//   Trace()->WriteFmt(this, ttDebug, "Load(%s)", name);   // formats only when a sink wants it
// Nothing here raises to the caller of Write; failures of the trace system itself become
// events in the system log under "SysTrace" (or the configured event source).
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <typeinfo>
#include <vector>

#include "Format.h"
#include "Platform.h"
#include "registry/Registry.h"

class INIReader;
namespace pugi {
class xml_node;
}

namespace common {

enum TTraceType : std::uint8_t {
  ttUnknown = 0,
  ttReporting = 1,
  ttInformation = 2,
  ttWarning = 3,
  ttError = 4,
  ttDebug = 5
};
using TTraceTypes = std::uint8_t;  // bit n = type n

constexpr TTraceTypes TraceTypeBit(TTraceType t) { return static_cast<TTraceTypes>(1u << t); }
// A record passes a set when its type is at most 7 and its bit is set.
constexpr bool TypePasses(TTraceTypes set, TTraceType t) { return t <= 7 && ((set >> t) & 1u); }
constexpr TTraceTypes kReportingToDebug = 0x3E;
constexpr TTraceTypes kInformationToDebug = 0x3C;

// "Reporting" ... "Debug"; empty for ttUnknown.
const char* TraceTypeName(TTraceType t);
// Ignores case; an unrecognised name reads as ttUnknown.
TTraceType TraceTypeFromName(std::string_view name);

// Class name of a sender object without namespaces ("TControlItem").
std::string TraceClassName(const std::type_info& type);

// Local time as the sinks see it. Tests replace the clock with SetTraceClock.
struct TLocalTime {
  int Year = 2000, Month = 1, Day = 1, Hour = 0, Minute = 0, Second = 0, MSec = 0;
};
using TTraceClock = TLocalTime (*)();
TLocalTime TraceNow();
// Installs a clock (nullptr: the system clock); returns the previous one.
TTraceClock SetTraceClock(TTraceClock clock);

// Fills a date/time pattern: yyyy yy mm m dd d hh h nn n ss s zzz z, text in '' or "" kept
// literally, other characters copied. "m"/"mm" right after an hour field means minutes.
// Throws std::runtime_error for a pattern it cannot fill (an unknown field width or an
// unterminated quote).
std::string FormatDateTime(std::string_view format, const TLocalTime& t);
// ISO 8601 week number (1..53).
int IsoWeekNumber(int year, int month, int day);

// Writes one event of the trace system itself, under the current internal source.
void TraceSystemEvent(TEventType type, const std::string& text);

// Event-log writer bound to one source.
class TEventLogger {
 public:
  explicit TEventLogger(std::string source) : FSource(std::move(source)) {}
  void Write(TEventType type, const std::string& text) const { WriteEventLog(FSource, type, text); }
  const std::string& Source() const { return FSource; }

 private:
  std::string FSource;
};

// Where a configuration came from; the file sinks' default record types depend on it.
enum TConfigSource : std::uint8_t { csCode, csXml, csIni, csRegistry };

// Base of the sinks.
class TTraceSystem {
 public:
  using TEvent = std::function<void(TTraceSystem& sender)>;

  TTraceSystem(std::string name);
  virtual ~TTraceSystem();
  TTraceSystem(const TTraceSystem&) = delete;
  TTraceSystem& operator=(const TTraceSystem&) = delete;

  TTraceTypes TraceTypes() const { return FTraceTypes.load(std::memory_order_relaxed); }
  void SetTraceTypes(TTraceTypes types);
  const std::string& Name() const { return FName; }
  bool Active() const { return FActive.load(std::memory_order_relaxed); }
  // Applies the default set when the set is empty, then raises OnActivate.
  virtual void SetActive(bool active);
  bool Passes(TTraceType t) const { return TypePasses(TraceTypes(), t); }

  // `traceNode` is the trace element; the sink reads its child element named Name().
  virtual void Initialize(const pugi::xml_node& traceNode);
  // Reads the section named Name().
  virtual void Initialize(const INIReader& ini);
  // Reads the subkey traceKey\Name() under root.
  virtual void Initialize(const std::string& traceKey, TRootKey root);
  virtual void Write(std::string_view sender, std::string_view msg, TTraceType type) = 0;

  // Default record types when a source gives none (csCode: switched on by code).
  virtual TTraceTypes DefaultTraceTypes(TConfigSource source) const = 0;

  TEvent OnActivate;
  TEvent OnTraceTypesChange;

 protected:
  // Subkey path of this sink below the trace key.
  std::string SubKey(const std::string& traceKey, const std::string& below = {}) const;
  // Set from the type names below a "TraceTypes" element / in "a;b" / as true registry values.
  TTraceTypes LoadTraceTypes(const pugi::xml_node& sinkNode);
  TTraceTypes LoadTraceTypes(std::string_view list);
  TTraceTypes LoadTraceTypes(const std::string& traceKey, TRootKey root, bool& present);

  std::atomic<TTraceTypes> FTraceTypes{0};
  std::string FName;
  std::atomic<bool> FActive{false};
};

// XML helpers shared by the sinks: read a setting, log a warning and keep the default when
// the text does not convert.
std::string GetAttrValue(const pugi::xml_node& node, const char* attr, const std::string& def);
bool GetAttrBool(const pugi::xml_node& node, const char* attr, bool def);
int GetAttrInt(const pugi::xml_node& node, const char* attr, int def);
std::string GetNodeValue(const pugi::xml_node& node, const std::string& def);
bool GetNodeBool(const pugi::xml_node& node, bool def);
int GetNodeInt(const pugi::xml_node& node, int def);
// Text from an INI file or the registry as UTF-8 (8-bit code-page text is converted).
std::string ConfigText(const std::string& s);
// "true"/"false" (any case) or an integer, non-zero meaning true; throws otherwise.
bool TextToBool(const std::string& s);
int TextToInt(const std::string& s);

class TEventViewer : public TTraceSystem {
 public:
  TEventViewer();
  const std::string& Source() const { return FSource; }
  // A different name (ignoring case) replaces the writer and redirects the trace system's
  // own events to the new source.
  void SetSource(const std::string& source);

  void Initialize(const pugi::xml_node& traceNode) override;
  void Initialize(const INIReader& ini) override;
  void Initialize(const std::string& traceKey, TRootKey root) override;
  void Write(std::string_view sender, std::string_view msg, TTraceType type) override;
  TTraceTypes DefaultTraceTypes(TConfigSource) const override;

 private:
  std::unique_ptr<TEventLogger> FEventLogger;
  std::string FSource = "SysTrace";
  mutable std::mutex FLock;  // guards FEventLogger against a concurrent SetSource
};

// Debug monitor: standard error (the debug channel) and, in a console process, standard output.
class TDbMon : public TTraceSystem {
 public:
  TDbMon();

  bool IncludeDate() const { return FIncludeDate; }
  void SetIncludeDate(bool v) { FIncludeDate = v; }
  bool IncludeTime() const { return FIncludeTime; }
  void SetIncludeTime(bool v) { FIncludeTime = v; }
  bool IncludeProcID() const { return FIncludeProcID; }
  void SetIncludeProcID(bool v) { FIncludeProcID = v; }
  bool IncludeThreadID() const { return FIncludeThreadID; }
  void SetIncludeThreadID(bool v) { FIncludeThreadID = v; }
  const std::string& DateFormat() const { return FDateFormat; }
  void SetDateFormat(const std::string& v) { FDateFormat = v; }
  const std::string& TimeFormat() const { return FTimeFormat; }
  void SetTimeFormat(const std::string& v) { FTimeFormat = v; }
  const std::string& Seperator() const { return FSeperator; }
  void SetSeperator(const std::string& v) { FSeperator = v; }

  void Initialize(const pugi::xml_node& traceNode) override;
  void Initialize(const INIReader& ini) override;
  void Initialize(const std::string& traceKey, TRootKey root) override;
  void Write(std::string_view sender, std::string_view msg, TTraceType type) override;
  TTraceTypes DefaultTraceTypes(TConfigSource) const override;

  // Date, time, process and thread fields that are included, joined by the separator.
  // An invalid format logs a warning and gives the default-format value in brackets.
  std::string LinePrefix() const;

  // Whether lines also go to standard output: a terminal there, and the process allows it.
  static bool IsConsoleProcess();

 protected:
  explicit TDbMon(std::string name) : TTraceSystem(std::move(name)) {}
  virtual void ReadLayout(const pugi::xml_node& layout);
  virtual void ReadLayout(const INIReader& ini);
  virtual void ReadLayout(const std::string& traceKey, TRootKey root);

  bool FIncludeDate = true;
  bool FIncludeTime = true;
  bool FIncludeProcID = false;
  bool FIncludeThreadID = false;
  std::string FDateFormat = "dd/mm/yyyy";
  std::string FTimeFormat = "hh:mm:ss";
  std::string FSeperator = "\xC2\xA6";  // "¦"
};

inline const char* const kDefaultSeperator = "\xC2\xA6";

class TTextFile;
class TCsvFile;

// Cross-process lock named after a trace file. With AGlobal the name carries "Global\".
class TMutex {
 public:
  TMutex(const std::string& AName, bool AGlobal);
  ~TMutex();
  // True when obtained (also when its last holder died); throws "Timeout" or "Failed".
  bool Acquire(int timeoutMs);
  void Release();
  const std::string& Name() const { return FName; }

 private:
  std::string FName;
  std::unique_ptr<TGlobalMutex> FHandle;  // created on first Acquire
};

struct TAsyncItem {
  std::string Sender;
  std::string Msg;
  TTraceType TraceType;
};

class TTrace {
 public:
  TTrace();
  ~TTrace();
  TTrace(const TTrace&) = delete;
  TTrace& operator=(const TTrace&) = delete;

  // True when a record of this type would reach an active sink. Two atomic loads, inlined
  // everywhere: the engine asks on every referential lookup.
  [[gnu::always_inline]] bool Wants(TTraceType type) const noexcept {
    return FActive.load(std::memory_order_relaxed) && TypePasses(FTraceTypes.load(std::memory_order_relaxed), type);
  }

  // Sender "None".
  void Write(std::string_view msg, TTraceType type) noexcept {
    if (Wants(type)) WriteCore(std::string_view(), msg, type);
  }
  // The core write; an empty sender is written as "None".
  void Write(std::string_view sender, std::string_view msg, TTraceType type) noexcept {
    if (Wants(type)) WriteCore(sender, msg, type);
  }
  void Write(const char* sender, std::string_view msg, TTraceType type) noexcept {
    if (Wants(type)) WriteCore(sender ? std::string_view(sender) : std::string_view(), msg, type);
  }
  void Write(const std::string& sender, std::string_view msg, TTraceType type) noexcept {
    if (Wants(type)) WriteCore(sender, msg, type);
  }
  // Sender = the object's class name, "None" for a null object.
  template <class T>
  void Write(const T* sender, std::string_view msg, TTraceType type) noexcept {
    if (!Wants(type)) return;
    try {
      WriteCore(sender ? TraceClassName(typeid(*sender)) : std::string(), msg, type);
    } catch (...) {
    }
  }
  // Formatted forms: the arguments fill fmt only when the record is wanted.
  template <class... A>
  void WriteFmt(std::string_view sender, TTraceType type, std::string_view fmt, A&&... args) noexcept {
    if (!Wants(type)) return;
    try {
      WriteCore(sender, Fmt(fmt, std::forward<A>(args)...), type);
    } catch (...) {
    }
  }
  template <class... A>
  void WriteFmt(const char* sender, TTraceType type, std::string_view fmt, A&&... args) noexcept {
    WriteFmt(sender ? std::string_view(sender) : std::string_view(), type, fmt, std::forward<A>(args)...);
  }
  template <class... A>
  void WriteFmt(const std::string& sender, TTraceType type, std::string_view fmt, A&&... args) noexcept {
    WriteFmt(std::string_view(sender), type, fmt, std::forward<A>(args)...);
  }
  template <class T, class... A>
  void WriteFmt(const T* sender, TTraceType type, std::string_view fmt, A&&... args) noexcept {
    if (!Wants(type)) return;
    try {
      WriteCore(sender ? TraceClassName(typeid(*sender)) : std::string(), Fmt(fmt, std::forward<A>(args)...), type);
    } catch (...) {
    }
  }

  void Initialize(const pugi::xml_node& traceNode) noexcept;
  void Initialize(const INIReader& iniFile) noexcept;
  void Initialize(const std::string& iniFileName) noexcept;
  void Initialize(const std::string& traceKey, TRootKey rootKey) noexcept;

  bool Async() const { return FAsync.load(); }
  // On: starts the writer thread. Off: stops it and writes what is still queued.
  void SetAsync(bool async);
  TTraceTypes TraceTypes() const { return FTraceTypes.load(); }
  void SetTraceTypes(TTraceTypes types) { FTraceTypes.store(types); }
  bool Active() const { return FActive.load(); }
  void SetActive(bool active) { FActive.store(active); }

  // Sinks, created on first access (the text file sink can fail to create: no usable folder).
  TEventViewer* EventViewer();
  TTextFile* TextFile();
  TCsvFile* CsvFile();
  TDbMon* DbMon();

  // End of the process or library: asynchronous writing off, sinks freed, writes ignored.
  void Shutdown() noexcept;

 private:
  void WriteCore(std::string_view sender, std::string_view msg, TTraceType type) noexcept;
  void WriteSinks(std::string_view sender, std::string_view msg, TTraceType type);
  void HookSink(TTraceSystem& sink);
  void SinkChanged(TTraceSystem& sink);
  void RecomputeTraceTypes();
  void AsyncLoop();
  template <class F>
  void ConfigureSinks(F configure);

  std::atomic<TEventViewer*> FEventViewer{nullptr};
  std::atomic<TTextFile*> FTextFile{nullptr};
  std::atomic<TCsvFile*> FCsvFile{nullptr};
  std::atomic<TDbMon*> FDbMon{nullptr};
  std::recursive_mutex FSinkCs;  // sink creation and type-set maintenance
  std::atomic<TTraceTypes> FTraceTypes{0};
  std::atomic<bool> FActive{true};
  std::atomic<bool> FAsync{false};
  std::deque<TAsyncItem> FAsyncQueue;
  std::thread FAsyncThread;
  std::mutex FAsyncCs;
  std::condition_variable FAsyncWake;
  bool FAsyncStop = false;
  std::mutex FAsyncSwitch;  // serialises SetAsync
};

// The process-wide trace object, created on first call; nullptr if creation failed.
TTrace* Trace();

// True for "trace" in any case after "-", "/" or "--".
bool IsTraceSwitch(std::string_view arg);
// Programs: a trace switch on the command line or a debugger switches on the debug monitor and
// the text file sink in the program's own folder. Writes "Trace system initialized." and
// "<program> v<version>". Reads no configuration.
void InitProgramTrace(int argc, const char* const* argv, const char* version) noexcept;
// The engine library: configuration from "Software\Tarnholt\Ruvala" under HKEY_LOCAL_MACHINE,
// debug monitor only under a debugger.
void InitLibraryTrace() noexcept;

}  // namespace common
