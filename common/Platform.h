// Platform services with a seam for tests: event log (syslog), debug channel (standard error),
// named global mutex (lock file with flock), temporary folder, module file names, debugger
// detection.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

namespace common {

enum TEventType : std::uint8_t { etInformation, etWarning, etError };

// Writes one event under `source`; syslog unless a hook is installed.
void WriteEventLog(const std::string& source, TEventType type, const std::string& text);
using EventLogHook = std::function<void(const std::string& source, TEventType type, const std::string& text)>;
// Installs (or with an empty function removes) the test hook; returns the previous one.
EventLogHook SetEventLogHook(EventLogHook hook);

// The debug-string channel: standard error unless a hook is installed. `text` is written as is.
void OutputDebugText(const std::string& text);
using DebugOutputHook = std::function<void(const std::string& text)>;
DebugOutputHook SetDebugOutputHook(DebugOutputHook hook);

// Writes text (whole lines) to standard error in one piece under the process-wide lock.
void WriteStdErr(std::string_view text);

// True when a tracer (debugger) is attached: TracerPid in /proc/self/status is not 0.
bool IsDebuggerPresent();

// $TMPDIR, else /tmp, with a trailing "/".
std::string TempFolder();
// Folder for lock files: $XDG_RUNTIME_DIR, else the temporary folder; trailing "/".
std::string RuntimeFolder();

// Absolute file name of the program or shared library that contains `address` (dladdr).
std::string ModuleFileName(const void* address);
// The file name a class registration records for the shared library that contains `address`:
// its soname link beside it (`soname`, e.g. "libkalvix.so.1") when that link leads to the same
// file, so that an update which replaces libkalvix.so.1.0.0 by libkalvix.so.1.0.1 keeps the
// registration valid; otherwise the resolved file name.
std::string ServerFileName(const void* address, const std::string& soname);
// Absolute file name of the running program (/proc/self/exe).
std::string ProgramFileName();
// Folder part of a path, with a trailing "/".
std::string ExtractFilePath(const std::string& path);
std::string ExtractFileName(const std::string& path);
bool FileExists(const std::string& path);
bool DirectoryExists(const std::string& path);
// Creates the folder and its missing parents; true when it exists afterwards.
bool ForceDirectories(const std::string& path);

// A mutex shared by every process that uses the same name: an flock on a lock file in the
// runtime folder. An abandoned lock (its holder died) is simply acquired, as an abandoned
// mutex is. Names may carry the "Global\" prefix; it is part of the lock file's name.
class TGlobalMutex {
 public:
  explicit TGlobalMutex(std::string name);
  ~TGlobalMutex();
  TGlobalMutex(const TGlobalMutex&) = delete;
  TGlobalMutex& operator=(const TGlobalMutex&) = delete;
  // Waits at most timeoutMs (negative: forever). Throws std::runtime_error("Failed") when the
  // lock file cannot be opened; returns false on time-out.
  bool Acquire(int timeoutMs);
  void Release();
  const std::string& Name() const { return FName; }
  const std::string& LockFileName() const { return FLockFile; }

 private:
  std::string FName;
  std::string FLockFile;
  int FFd = -1;
  bool FHeld = false;
  // flock locks belong to the open file, so threads of one process also need this.
  std::timed_mutex* FThreadLock;
  bool FThreadHeld = false;
};

// The operating-system text of errno `code` followed by " (0x%x)".
std::string SysErrorText(int code);

}  // namespace common
