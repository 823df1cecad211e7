// The trace front, the event-log and debug-monitor sinks, configuration and the asynchronous
// writer.
#include "SysTrace.h"

#include <INIReader.h>
#include <cxxabi.h>
#include <edicom/EdiCom.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <pugixml.hpp>
#include <stdexcept>

#include "DateUtils.h"
#include "SysTraceFiles.h"
#include "TextCodec.h"

namespace common {

namespace {

std::string Lower(std::string_view s) {
  std::string r(s);
  for (char& c : r) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return r;
}

bool SameText(std::string_view a, std::string_view b) { return Lower(a) == Lower(b); }

std::string Trim(std::string_view s) {
  std::size_t b = 0, e = s.size();
  while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
  while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
  return std::string(s.substr(b, e - b));
}

// Source of the trace system's own events; the event viewer's source once one is configured.
std::mutex gSourceLock;
std::string* gInternalSource = nullptr;  // lives for the process

std::atomic<TTraceClock> gClock{nullptr};

TLocalTime SystemNow() {
  auto now = std::chrono::system_clock::now();
  std::time_t secs = std::chrono::system_clock::to_time_t(now);
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm tm{};
  localtime_r(&secs, &tm);
  return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, static_cast<int>(ms)};
}

std::string Pad(int v, int width) {
  std::string s = std::to_string(v);
  while (static_cast<int>(s.size()) < width) s.insert(s.begin(), '0');
  return s;
}

}  // namespace

const char* TraceTypeName(TTraceType t) {
  switch (t) {
    case ttUnknown:
      return "";
    case ttReporting:
      return "Reporting";
    case ttInformation:
      return "Information";
    case ttWarning:
      return "Warning";
    case ttError:
      return "Error";
    case ttDebug:
      return "Debug";
  }
  return "";
}

TTraceType TraceTypeFromName(std::string_view name) {
  for (int t = ttReporting; t <= ttDebug; ++t)
    if (SameText(name, TraceTypeName(static_cast<TTraceType>(t)))) return static_cast<TTraceType>(t);
  return ttUnknown;
}

std::string TraceClassName(const std::type_info& type) {
  int status = 0;
  std::unique_ptr<char, void (*)(void*)> d(abi::__cxa_demangle(type.name(), nullptr, nullptr, &status), std::free);
  std::string name = status == 0 && d ? d.get() : type.name();
  std::size_t p = name.rfind("::");
  return p == std::string::npos ? name : name.substr(p + 2);
}

TLocalTime TraceNow() {
  TTraceClock c = gClock.load(std::memory_order_relaxed);
  return c ? c() : SystemNow();
}

TTraceClock SetTraceClock(TTraceClock clock) { return gClock.exchange(clock); }

std::string FormatDateTime(std::string_view format, const TLocalTime& t) {
  auto invalid = [&] { return std::runtime_error("Invalid date/time format \"" + std::string(format) + "\""); };
  std::string out;
  char last = 0;  // the previous field letter, upper case: "m" after "h" is minutes
  std::size_t i = 0;
  while (i < format.size()) {
    char c = format[i];
    if (c == '\'' || c == '"') {
      std::size_t end = format.find(c, i + 1);
      if (end == std::string_view::npos) throw invalid();
      out.append(format.substr(i + 1, end - i - 1));
      i = end + 1;
      continue;
    }
    char u = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (u != 'Y' && u != 'M' && u != 'D' && u != 'H' && u != 'N' && u != 'S' && u != 'Z') {
      out.push_back(c);
      ++i;
      continue;
    }
    std::size_t n = 1;
    while (i + n < format.size() && std::toupper(static_cast<unsigned char>(format[i + n])) == u) ++n;
    char field = (u == 'M' && last == 'H') ? 'N' : u;
    switch (field) {
      case 'Y':
        if (n == 2)
          out += Pad(t.Year % 100, 2);
        else if (n == 4)
          out += Pad(t.Year, 4);
        else
          throw invalid();
        break;
      case 'Z':
        if (n == 1)
          out += std::to_string(t.MSec);
        else if (n == 3)
          out += Pad(t.MSec, 3);
        else
          throw invalid();
        break;
      default: {
        if (n > 2) throw invalid();
        int v = field == 'M'   ? t.Month
                : field == 'D' ? t.Day
                : field == 'H' ? t.Hour
                : field == 'N' ? t.Minute
                               : t.Second;
        out += Pad(v, static_cast<int>(n));
      }
    }
    last = u;
    i += n;
  }
  return out;
}

static int WeeksInIsoYear(int y) {
  auto p = [](int x) { return (x + x / 4 - x / 100 + x / 400) % 7; };
  return (p(y) == 4 || p(y - 1) == 3) ? 53 : 52;
}

int IsoWeekNumber(int year, int month, int day) {
  std::int64_t days = DaysFromCivil(year, month, day);
  int weekday = static_cast<int>(((days % 7) + 7 + 3) % 7) + 1;  // 1970-01-01 was a Thursday; Monday = 1
  int ordinal = static_cast<int>(days - DaysFromCivil(year, 1, 1)) + 1;
  int week = (ordinal - weekday + 10) / 7;
  if (week < 1) return WeeksInIsoYear(year - 1);
  if (week > WeeksInIsoYear(year)) return 1;
  return week;
}

void TraceSystemEvent(TEventType type, const std::string& text) {
  std::string source;
  {
    std::lock_guard<std::mutex> lock(gSourceLock);
    source = gInternalSource ? *gInternalSource : "SysTrace";
  }
  WriteEventLog(source, type, text);
}

static void SetInternalSource(const std::string& source) {
  std::lock_guard<std::mutex> lock(gSourceLock);
  if (!gInternalSource) gInternalSource = new std::string();
  *gInternalSource = source;
}

// ---------------------------------------------------------------------------------------------
// Configuration helpers

std::string ConfigText(const std::string& s) { return IsValidUtf8(s) ? s : AnsiToUtf8(s); }

int TextToInt(const std::string& s) {
  std::string t = Trim(s);
  char* end = nullptr;
  errno = 0;
  long v = t.empty() ? 0 : std::strtol(t.c_str(), &end, 10);
  if (t.empty() || *end || errno == ERANGE || v < INT32_MIN || v > INT32_MAX)
    throw std::runtime_error("'" + s + "' is not a valid integer value");
  return static_cast<int>(v);
}

bool TextToBool(const std::string& s) {
  std::string l = Lower(Trim(s));
  if (l == "true") return true;
  if (l == "false") return false;
  try {
    return TextToInt(l) != 0;
  } catch (const std::exception&) {
    throw std::runtime_error("'" + s + "' is not a valid boolean value");
  }
}

std::string GetAttrValue(const pugi::xml_node& node, const char* attr, const std::string& def) {
  pugi::xml_attribute a = node.attribute(attr);
  return a ? std::string(a.value()) : def;
}

template <class T, class Convert>
static T AttrAs(const pugi::xml_node& node, const char* attr, T def, Convert convert) {
  pugi::xml_attribute a = node.attribute(attr);
  if (!a) return def;
  try {
    return convert(a.value());
  } catch (const std::exception& e) {
    TraceSystemEvent(etWarning, Fmt("TTraceSystem.GetAttrValue failed (NodeName=[%s], Attr=[%s], Exception=[%s])",
                                    node.name(), attr, e.what()));
    return def;
  }
}

bool GetAttrBool(const pugi::xml_node& node, const char* attr, bool def) {
  return AttrAs(node, attr, def, [](const char* v) { return TextToBool(v); });
}

int GetAttrInt(const pugi::xml_node& node, const char* attr, int def) {
  return AttrAs(node, attr, def, [](const char* v) { return TextToInt(v); });
}

std::string GetNodeValue(const pugi::xml_node& node, const std::string& def) {
  return node ? std::string(node.child_value()) : def;
}

template <class T, class Convert>
static T NodeAs(const pugi::xml_node& node, T def, Convert convert) {
  if (!node) return def;
  try {
    return convert(node.child_value());
  } catch (const std::exception& e) {
    TraceSystemEvent(etWarning,
                     Fmt("TTraceSystem.GetNodeValue failed (NodeName=[%s], Exception=[%s])", node.name(), e.what()));
    return def;
  }
}

bool GetNodeBool(const pugi::xml_node& node, bool def) {
  return NodeAs(node, def, [](const char* v) { return TextToBool(v); });
}

int GetNodeInt(const pugi::xml_node& node, int def) {
  return NodeAs(node, def, [](const char* v) { return TextToInt(v); });
}

// ---------------------------------------------------------------------------------------------
// TTraceSystem

TTraceSystem::TTraceSystem(std::string name) : FName(std::move(name)) {}
TTraceSystem::~TTraceSystem() = default;

void TTraceSystem::SetTraceTypes(TTraceTypes types) {
  FTraceTypes.store(types);
  if (OnTraceTypesChange) OnTraceTypesChange(*this);
}

void TTraceSystem::SetActive(bool active) {
  if (TraceTypes() == 0) FTraceTypes.store(DefaultTraceTypes(csCode));
  FActive.store(active);
  if (OnActivate) OnActivate(*this);
}

std::string TTraceSystem::SubKey(const std::string& traceKey, const std::string& below) const {
  std::string key = traceKey;
  if (key.empty() || key.back() != '\\') key.push_back('\\');
  key += FName;
  if (!below.empty()) key += "\\" + below;
  return key;
}

TTraceTypes TTraceSystem::LoadTraceTypes(const pugi::xml_node& sinkNode) {
  TTraceTypes set = 0;
  for (pugi::xml_node t : sinkNode.child("TraceTypes").children("TraceType")) {
    std::string name = Trim(t.child_value());
    if (name.empty()) {
      TraceSystemEvent(etWarning, Fmt("TTraceSystem.LoadTraceTypes error (%s)", "Empty trace type name"));
      continue;
    }
    set |= TraceTypeBit(TraceTypeFromName(name));
  }
  return set;
}

TTraceTypes TTraceSystem::LoadTraceTypes(std::string_view list) {
  TTraceTypes set = 0;
  std::size_t start = 0;
  while (start <= list.size()) {
    std::size_t end = list.find(';', start);
    if (end == std::string_view::npos) end = list.size();
    std::string name = Trim(list.substr(start, end - start));
    if (!name.empty()) set |= TraceTypeBit(TraceTypeFromName(name));
    start = end + 1;
  }
  return set;
}

TTraceTypes TTraceSystem::LoadTraceTypes(const std::string& traceKey, TRootKey root, bool& present) {
  TTraceTypes set = 0;
  TRegistry reg(root);
  present = reg.OpenKeyReadOnly(SubKey(traceKey, "TraceTypes"));
  if (!present) return 0;
  for (const std::string& name : reg.GetValueNames()) {
    try {
      if (reg.ReadBool(name)) set |= TraceTypeBit(TraceTypeFromName(name));
    } catch (const std::exception& e) {
      TraceSystemEvent(etWarning, Fmt("TTraceSystem.LoadTraceTypes error (%s)", e.what()));
    }
  }
  return set;
}

void TTraceSystem::Initialize(const pugi::xml_node& traceNode) {
  pugi::xml_node node = traceNode.child(FName.c_str());
  TTraceTypes set = LoadTraceTypes(node);
  SetTraceTypes(set ? set : DefaultTraceTypes(csXml));
  SetActive(GetAttrBool(node, "Active", false));
}

void TTraceSystem::Initialize(const INIReader& ini) {
  TTraceTypes set = LoadTraceTypes(ini.Get(FName, "TraceTypes", ""));
  SetTraceTypes(set ? set : DefaultTraceTypes(csIni));
  SetActive(ini.GetBoolean(FName, "Active", false));
}

void TTraceSystem::Initialize(const std::string& traceKey, TRootKey root) {
  bool present = false;
  TTraceTypes set = LoadTraceTypes(traceKey, root, present);
  SetTraceTypes(set ? set : DefaultTraceTypes(csRegistry));
  TRegistry reg(root);
  if (reg.OpenKeyReadOnly(SubKey(traceKey)) && reg.ValueExists("Active")) SetActive(reg.ReadBool("Active"));
}

// ---------------------------------------------------------------------------------------------
// TEventViewer

TEventViewer::TEventViewer() : TTraceSystem("EventViewer"), FEventLogger(std::make_unique<TEventLogger>("SysTrace")) {}

TTraceTypes TEventViewer::DefaultTraceTypes(TConfigSource) const {
  return TraceTypeBit(ttWarning) | TraceTypeBit(ttError);
}

void TEventViewer::SetSource(const std::string& source) {
  std::lock_guard<std::mutex> lock(FLock);
  if (SameText(source, FSource)) return;
  FSource = source;
  FEventLogger = std::make_unique<TEventLogger>(source);
  SetInternalSource(source);
}

void TEventViewer::Initialize(const pugi::xml_node& traceNode) {
  TTraceSystem::Initialize(traceNode);
  SetSource(GetAttrValue(traceNode.child("EventViewer"), "Source", "SysTrace"));
}

void TEventViewer::Initialize(const INIReader& ini) {
  TTraceSystem::Initialize(ini);
  SetSource(ConfigText(ini.Get("EventViewer", "Source", "SysTrace")));
}

void TEventViewer::Initialize(const std::string& traceKey, TRootKey root) {
  TTraceSystem::Initialize(traceKey, root);
  TRegistry reg(root);
  if (reg.OpenKeyReadOnly(SubKey(traceKey)) && reg.ValueExists("Source")) SetSource(reg.ReadString("Source"));
}

void TEventViewer::Write(std::string_view sender, std::string_view msg, TTraceType type) {
  if (!Active() || !Passes(type)) return;
  TEventType eventType;
  switch (type) {
    case ttReporting:
    case ttInformation:
      eventType = etInformation;
      break;
    case ttWarning:
      eventType = etWarning;
      break;
    case ttError:
      eventType = etError;
      break;
    case ttUnknown:
    case ttDebug:
    default:
      return;
  }
  std::string text = Fmt("Sender=[%s], Msg=[%s]", sender, msg);
  std::lock_guard<std::mutex> lock(FLock);
  FEventLogger->Write(eventType, text);
}

// ---------------------------------------------------------------------------------------------
// TDbMon

TDbMon::TDbMon() : TTraceSystem("DbMon") {}

TTraceTypes TDbMon::DefaultTraceTypes(TConfigSource) const { return kReportingToDebug; }

void TDbMon::Initialize(const pugi::xml_node& traceNode) {
  TTraceSystem::Initialize(traceNode);
  pugi::xml_node layout = traceNode.child(FName.c_str()).child("Layout");
  if (layout.first_child()) ReadLayout(layout);
}

void TDbMon::Initialize(const INIReader& ini) {
  TTraceSystem::Initialize(ini);
  ReadLayout(ini);
}

void TDbMon::Initialize(const std::string& traceKey, TRootKey root) {
  TTraceSystem::Initialize(traceKey, root);
  ReadLayout(traceKey, root);
}

void TDbMon::ReadLayout(const pugi::xml_node& layout) {
  FSeperator = GetNodeValue(layout.child("Seperator"), kDefaultSeperator);
  pugi::xml_node date = layout.child("Date"), time = layout.child("Time");
  FIncludeDate = GetAttrBool(date, "Include", true);
  FDateFormat = GetAttrValue(date, "Format", "dd/mm/yyyy");
  FIncludeTime = GetAttrBool(time, "Include", true);
  FTimeFormat = GetAttrValue(time, "Format", "hh:mm:ss");
  FIncludeProcID = GetAttrBool(layout.child("ProcessID"), "Include", false);
  FIncludeThreadID = GetAttrBool(layout.child("ThreadID"), "Include", false);
}

void TDbMon::ReadLayout(const INIReader& ini) {
  FSeperator = ConfigText(ini.Get(FName, "Seperator", kDefaultSeperator));
  FIncludeDate = ini.GetBoolean(FName, "IncludeDate", true);
  FIncludeTime = ini.GetBoolean(FName, "IncludeTime", true);
  FIncludeProcID = ini.GetBoolean(FName, "IncludeProcessID", false);
  FIncludeThreadID = ini.GetBoolean(FName, "IncludeThreadID", false);
  FDateFormat = ConfigText(ini.Get(FName, "DateFormat", "dd/mm/yyyy"));
  FTimeFormat = ConfigText(ini.Get(FName, "TimeFormat", "hh:mm:ss"));
}

void TDbMon::ReadLayout(const std::string& traceKey, TRootKey root) {
  TRegistry reg(root);
  if (!reg.OpenKeyReadOnly(SubKey(traceKey, "Layout"))) return;
  if (reg.ValueExists("Seperator")) FSeperator = reg.ReadString("Seperator");
  if (reg.ValueExists("IncludeDate")) FIncludeDate = reg.ReadBool("IncludeDate");
  if (reg.ValueExists("IncludeTime")) FIncludeTime = reg.ReadBool("IncludeTime");
  if (reg.ValueExists("IncludeProcessID")) FIncludeProcID = reg.ReadBool("IncludeProcessID");
  if (reg.ValueExists("IncludeThreadID")) FIncludeThreadID = reg.ReadBool("IncludeThreadID");
  if (reg.ValueExists("DateFormat")) FDateFormat = reg.ReadString("DateFormat");
  if (reg.ValueExists("TimeFormat")) FTimeFormat = reg.ReadString("TimeFormat");
}

std::string TDbMon::LinePrefix() const {
  TLocalTime now = TraceNow();
  std::string prefix;
  auto field = [&](bool include, const std::string& format, const char* defFormat, const char* what) {
    if (!include) return;
    try {
      prefix += FormatDateTime(format, now);
    } catch (const std::exception& e) {
      TraceSystemEvent(etWarning,
                       Fmt("TDbMon.Write FormatDateTime failed (%s=[%s], Exception=[%s])", what, format, e.what()));
      prefix += "[" + FormatDateTime(defFormat, now) + "]";
    }
    prefix += FSeperator;
  };
  field(FIncludeDate, FDateFormat, "dd/mm/yyyy", "DateFormat");
  field(FIncludeTime, FTimeFormat, "hh:mm:ss", "TimeFormat");
  if (FIncludeProcID) prefix += std::to_string(getpid()) + FSeperator;
  if (FIncludeThreadID) prefix += std::to_string(gettid()) + FSeperator;
  // The whole final separator goes, also when it is longer than one character.
  if (!prefix.empty()) prefix.resize(prefix.size() - FSeperator.size());
  return prefix;
}

bool TDbMon::IsConsoleProcess() { return EdiConsoleTraceAllowed() != 0 && isatty(STDOUT_FILENO) == 1; }

// Standard error and standard output on the same terminal: one copy of the line is enough.
static bool StdErrSameAsStdOut() {
  struct stat out {
  }, err{};
  return fstat(STDOUT_FILENO, &out) == 0 && fstat(STDERR_FILENO, &err) == 0 && out.st_dev == err.st_dev &&
         out.st_ino == err.st_ino;
}

void TDbMon::Write(std::string_view sender, std::string_view msg, TTraceType type) {
  if (!Active() || !Passes(type)) return;
  try {
    std::string line = LinePrefix();
    line += FSeperator;
    line += sender;
    line += FSeperator;
    line += TraceTypeName(type);
    line += FSeperator;
    line += msg;
    line += '\n';
    bool console = IsConsoleProcess();
    if (console) {
      std::fwrite(line.data(), 1, line.size(), stdout);
      std::fflush(stdout);
    }
    if (!console || !StdErrSameAsStdOut()) OutputDebugText(line);
  } catch (const std::exception& e) {
    TraceSystemEvent(etError, Fmt("TDbMon.Write (%s) failed (%s)", msg, e.what()));
  }
}

// ---------------------------------------------------------------------------------------------
// TMutex

TMutex::TMutex(const std::string& AName, bool AGlobal) : FName(AGlobal ? "Global\\" + AName : AName) {}
TMutex::~TMutex() = default;

bool TMutex::Acquire(int timeoutMs) {
  if (!FHandle) FHandle = std::make_unique<TGlobalMutex>(FName);
  if (!FHandle->Acquire(timeoutMs)) throw std::runtime_error("Timeout");
  return true;
}

void TMutex::Release() {
  if (FHandle) FHandle->Release();
}

// ---------------------------------------------------------------------------------------------
// TTrace

TTrace::TTrace() = default;

TTrace::~TTrace() { Shutdown(); }

void TTrace::Shutdown() noexcept {
  try {
    SetAsync(false);
  } catch (...) {
  }
  FActive.store(false);
  std::lock_guard<std::recursive_mutex> lock(FSinkCs);
  delete FEventViewer.exchange(nullptr);
  delete FTextFile.exchange(nullptr);
  delete FCsvFile.exchange(nullptr);
  delete FDbMon.exchange(nullptr);
  FTraceTypes.store(0);
}

void TTrace::HookSink(TTraceSystem& sink) {
  sink.OnActivate = [this](TTraceSystem&) { RecomputeTraceTypes(); };
  sink.OnTraceTypesChange = [this](TTraceSystem&) { RecomputeTraceTypes(); };
}

// The union of the sets of the active sinks: a record no active sink wants stops at Wants().
void TTrace::RecomputeTraceTypes() {
  std::lock_guard<std::recursive_mutex> lock(FSinkCs);
  TTraceTypes set = 0;
  auto add = [&](TTraceSystem* s) {
    if (s && s->Active()) set |= s->TraceTypes();
  };
  add(FEventViewer.load());
  add(FDbMon.load());
  add(FTextFile.load());
  add(FCsvFile.load());
  FTraceTypes.store(set);
}

template <class S>
static S* CreateSink(std::atomic<S*>& slot, std::recursive_mutex& cs, const std::function<void(TTraceSystem&)>& hook) {
  if (S* s = slot.load(std::memory_order_acquire)) return s;
  std::lock_guard<std::recursive_mutex> lock(cs);
  if (S* s = slot.load()) return s;
  auto sink = std::make_unique<S>();
  hook(*sink);
  slot.store(sink.get(), std::memory_order_release);
  return sink.release();
}

TEventViewer* TTrace::EventViewer() {
  return CreateSink(FEventViewer, FSinkCs, [this](TTraceSystem& s) { HookSink(s); });
}
TTextFile* TTrace::TextFile() {
  return CreateSink(FTextFile, FSinkCs, [this](TTraceSystem& s) { HookSink(s); });
}
TCsvFile* TTrace::CsvFile() {
  return CreateSink(FCsvFile, FSinkCs, [this](TTraceSystem& s) { HookSink(s); });
}
TDbMon* TTrace::DbMon() {
  return CreateSink(FDbMon, FSinkCs, [this](TTraceSystem& s) { HookSink(s); });
}

void TTrace::WriteSinks(std::string_view sender, std::string_view msg, TTraceType type) {
  auto each = [&](TTraceSystem* s) {
    if (s && s->Active()) s->Write(sender, msg, type);
  };
  each(FEventViewer.load(std::memory_order_acquire));
  each(FTextFile.load(std::memory_order_acquire));
  each(FCsvFile.load(std::memory_order_acquire));
  each(FDbMon.load(std::memory_order_acquire));
}

void TTrace::WriteCore(std::string_view sender, std::string_view msg, TTraceType type) noexcept {
  try {
    std::string_view who = sender.empty() ? std::string_view("None") : sender;
    if (FAsync.load(std::memory_order_relaxed)) {
      std::lock_guard<std::mutex> lock(FAsyncCs);
      // Checked again under the lock: switching off drains the queue and then clears FAsync.
      if (FAsync.load()) {
        FAsyncQueue.push_back({std::string(who), std::string(msg), type});
        return;
      }
    }
    WriteSinks(who, msg, type);
  } catch (const std::exception& e) {
    TraceSystemEvent(etError, Fmt("TTrace.Write exception [%s]", e.what()));
  } catch (...) {
    TraceSystemEvent(etError, Fmt("TTrace.Write exception [%s]", "unknown exception"));
  }
}

void TTrace::SetAsync(bool async) {
  std::lock_guard<std::mutex> sw(FAsyncSwitch);
  if (async == FAsync.load()) return;
  if (async) {
    {
      std::lock_guard<std::mutex> lock(FAsyncCs);
      FAsyncStop = false;
    }
    FAsyncThread = std::thread([this] { AsyncLoop(); });
    FAsync.store(true);
    return;
  }
  {
    std::lock_guard<std::mutex> lock(FAsyncCs);
    FAsyncStop = true;
  }
  FAsyncWake.notify_all();
  if (FAsyncThread.joinable()) FAsyncThread.join();
  // What is still queued is written now rather than lost: records at the end of a run are
  // often the ones that explain it.
  for (;;) {
    std::optional<TAsyncItem> item;
    {
      std::lock_guard<std::mutex> lock(FAsyncCs);
      if (FAsyncQueue.empty()) {
        FAsync.store(false);
        break;
      }
      item = std::move(FAsyncQueue.front());
      FAsyncQueue.pop_front();
    }
    if (!TypePasses(FTraceTypes.load(), item->TraceType)) continue;
    try {
      WriteSinks(item->Sender, item->Msg, item->TraceType);
    } catch (const std::exception& e) {
      TraceSystemEvent(etError, e.what());
    }
  }
}

// One record, then 100 ms; an empty queue, 50 ms: at most ten records a second.
void TTrace::AsyncLoop() {
  for (;;) {
    std::chrono::milliseconds pause(50);
    try {
      std::optional<TAsyncItem> item;
      {
        std::lock_guard<std::mutex> lock(FAsyncCs);
        if (FAsyncStop) return;
        if (!FAsyncQueue.empty()) {
          item = std::move(FAsyncQueue.front());
          FAsyncQueue.pop_front();
        }
      }
      if (item) {
        pause = std::chrono::milliseconds(100);
        if (TypePasses(FTraceTypes.load(), item->TraceType)) {
          try {
            WriteSinks(item->Sender, item->Msg, item->TraceType);
          } catch (const std::exception& e) {
            TraceSystemEvent(etError, e.what());
          }
        }
      }
    } catch (const std::exception& e) {
      TraceSystemEvent(etError, e.what());
      pause = std::chrono::milliseconds(100);
    }
    std::unique_lock<std::mutex> lock(FAsyncCs);
    if (FAsyncWake.wait_for(lock, pause, [this] { return FAsyncStop; })) return;
  }
}

template <class F>
void TTrace::ConfigureSinks(F configure) {
  auto one = [&](auto getter) {
    try {
      TTraceSystem* sink = getter();
      configure(*sink);
    } catch (const std::exception& e) {
      TraceSystemEvent(etError, Fmt("InitTraceSystem exception [%s]", e.what()));
    }
    RecomputeTraceTypes();
  };
  one([this] { return static_cast<TTraceSystem*>(EventViewer()); });
  one([this] { return static_cast<TTraceSystem*>(TextFile()); });
  one([this] { return static_cast<TTraceSystem*>(CsvFile()); });
  one([this] { return static_cast<TTraceSystem*>(DbMon()); });
}

void TTrace::Initialize(const pugi::xml_node& traceNode) noexcept {
  if (!traceNode) {
    TraceSystemEvent(etError, "TTrace.Initialize failed. TraceNode is nil.");
    return;
  }
  try {
    SetAsync(GetAttrBool(traceNode, "Async", false));
  } catch (const std::exception& e) {
    TraceSystemEvent(etError, Fmt("InitTraceSystem exception [%s]", e.what()));
  }
  ConfigureSinks([&](TTraceSystem& s) { s.Initialize(traceNode); });
}

void TTrace::Initialize(const INIReader& iniFile) noexcept {
  try {
    SetAsync(iniFile.GetBoolean("Trace", "Async", false));
  } catch (const std::exception& e) {
    TraceSystemEvent(etError, Fmt("InitTraceSystem exception [%s]", e.what()));
  }
  ConfigureSinks([&](TTraceSystem& s) { s.Initialize(iniFile); });
}

void TTrace::Initialize(const std::string& iniFileName) noexcept {
  try {
    if (!FileExists(iniFileName)) {
      TraceSystemEvent(etError, Fmt("TTrace.Initialize failed. IniFile (%s) not found.", iniFileName));
      return;
    }
    INIReader ini(iniFileName);
    Initialize(ini);
  } catch (const std::exception& e) {
    TraceSystemEvent(etError, Fmt("InitTraceSystem exception [%s]", e.what()));
  }
}

void TTrace::Initialize(const std::string& traceKey, TRootKey rootKey) noexcept {
  try {
    TRegistry reg(rootKey);
    if (!reg.OpenKeyReadOnly(traceKey)) {
      if (rootKey != HKEY_CURRENT_USER) return;
      rootKey = HKEY_LOCAL_MACHINE;
      reg.RootKey = rootKey;
      if (!reg.OpenKeyReadOnly(traceKey)) return;
    }
    if (reg.ValueExists("Async")) SetAsync(reg.ReadBool("Async"));
  } catch (const std::exception& e) {
    TraceSystemEvent(etError, Fmt("InitTraceSystem exception [%s]", e.what()));
  }
  ConfigureSinks([&](TTraceSystem& s) { s.Initialize(traceKey, rootKey); });
}

// ---------------------------------------------------------------------------------------------
// The process-wide object

static std::atomic<TTrace*> gTrace{nullptr};

static void ShutdownTrace() {
  // The object stays (inactive) so that a late Write from another exit handler is harmless.
  if (TTrace* t = gTrace.load()) t->Shutdown();
}

TTrace* Trace() {
  if (TTrace* t = gTrace.load(std::memory_order_acquire)) return t;
  static std::mutex creation;
  std::lock_guard<std::mutex> lock(creation);
  if (TTrace* t = gTrace.load()) return t;
  try {
    auto* t = new TTrace();
    gTrace.store(t, std::memory_order_release);
    // From a shared library this runs when the library is unloaded.
    std::atexit(ShutdownTrace);
    return t;
  } catch (const std::exception& e) {
    TraceSystemEvent(etError, Fmt("Exception in (global) Trace function (%s))", e.what()));
    return nullptr;
  }
}

bool IsTraceSwitch(std::string_view arg) {
  if (arg.rfind("--", 0) == 0)
    arg.remove_prefix(2);
  else if (!arg.empty() && (arg[0] == '-' || arg[0] == '/'))
    arg.remove_prefix(1);
  else
    return false;
  return SameText(arg, "trace");
}

void InitProgramTrace(int argc, const char* const* argv, const char* version) noexcept {
  try {
    TTrace* t = Trace();
    if (!t) return;
    bool requested = IsDebuggerPresent();
    for (int i = 1; i < argc; ++i)
      if (argv[i] && IsTraceSwitch(argv[i])) requested = true;
    if (requested) t->DbMon()->SetActive(true);
    if (requested && t->DbMon()->Active()) {
      TTextFile* file = t->TextFile();
      file->SetOutputDir(ExtractFilePath(ProgramFileName()));
      file->SetActive(true);
    }
    t->Write("Trace system initialized.", ttInformation);
    t->WriteFmt("", ttInformation, "%s v%s", ExtractFileName(ProgramFileName()), version ? version : "");
  } catch (const std::exception& e) {
    TraceSystemEvent(etError, Fmt("InitTraceSystem exception [%s]", e.what()));
  }
}

void InitLibraryTrace() noexcept {
  try {
    TTrace* t = Trace();
    if (!t) return;
    t->Initialize(std::string("Software\\Tarnholt\\Ruvala"), HKEY_LOCAL_MACHINE);
    t->DbMon()->SetActive(IsDebuggerPresent());
    t->Write("Trace system initialized.", ttInformation);
  } catch (const std::exception& e) {
    TraceSystemEvent(etError, Fmt("InitTraceSystem exception [%s]", e.what()));
  }
}

}  // namespace common
