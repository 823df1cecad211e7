// Platform services over Linux: syslog, standard error, flock, /proc.
#include "Platform.h"

#include <dlfcn.h>
#include <edicom/EdiCom.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <stdexcept>
#include <thread>

namespace common {

static std::mutex gHookMutex;
static EventLogHook* gEventLogHook = nullptr;
static DebugOutputHook* gDebugHook = nullptr;

EventLogHook SetEventLogHook(EventLogHook hook) {
  std::lock_guard<std::mutex> lock(gHookMutex);
  EventLogHook old = gEventLogHook ? *gEventLogHook : EventLogHook();
  delete gEventLogHook;
  gEventLogHook = hook ? new EventLogHook(std::move(hook)) : nullptr;
  return old;
}

void WriteEventLog(const std::string& source, TEventType type, const std::string& text) {
  {
    std::lock_guard<std::mutex> lock(gHookMutex);
    if (gEventLogHook) {
      (*gEventLogHook)(source, type, text);
      return;
    }
  }
  int prio = type == etError ? LOG_ERR : type == etWarning ? LOG_WARNING : LOG_INFO;
  // openlog keeps the pointer: the identity must outlive the call.
  static std::mutex logMutex;
  std::lock_guard<std::mutex> lock(logMutex);
  static std::string ident;
  ident = source;
  openlog(ident.c_str(), LOG_PID, LOG_USER);
  syslog(prio, "%s", text.c_str());
  closelog();
}

DebugOutputHook SetDebugOutputHook(DebugOutputHook hook) {
  std::lock_guard<std::mutex> lock(gHookMutex);
  DebugOutputHook old = gDebugHook ? *gDebugHook : DebugOutputHook();
  delete gDebugHook;
  gDebugHook = hook ? new DebugOutputHook(std::move(hook)) : nullptr;
  return old;
}

void OutputDebugText(const std::string& text) {
  {
    std::lock_guard<std::mutex> lock(gHookMutex);
    if (gDebugHook) {
      (*gDebugHook)(text);
      return;
    }
  }
  WriteStdErr(text);
}

void WriteStdErr(std::string_view text) { EdiWriteStdErr(text.data(), text.size()); }

bool IsDebuggerPresent() {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind("TracerPid:", 0) == 0) return std::atoi(line.c_str() + 10) != 0;
  return false;
}

static std::string WithSlash(std::string s) {
  if (s.empty() || s.back() != '/') s.push_back('/');
  return s;
}

std::string TempFolder() {
  const char* t = std::getenv("TMPDIR");
  return WithSlash(t && *t ? t : "/tmp");
}

std::string RuntimeFolder() {
  const char* r = std::getenv("XDG_RUNTIME_DIR");
  if (r && *r && DirectoryExists(r)) return WithSlash(r);
  return TempFolder();
}

std::string ModuleFileName(const void* address) {
  Dl_info info{};
  if (dladdr(address, &info) && info.dli_fname && *info.dli_fname) {
    char resolved[PATH_MAX];
    if (realpath(info.dli_fname, resolved)) return resolved;
    return info.dli_fname;
  }
  return ProgramFileName();
}

std::string ServerFileName(const void* address, const std::string& soname) {
  std::string file = ModuleFileName(address);
  if (soname.empty() || soname.find('/') != std::string::npos) return file;
  std::string link = ExtractFilePath(file) + soname;
  char resolved[PATH_MAX];
  if (link == file || !realpath(link.c_str(), resolved) || file != resolved) return file;
  return link;
}

std::string ProgramFileName() {
  char buf[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return {};
  buf[n] = 0;
  return buf;
}

std::string ExtractFilePath(const std::string& path) {
  std::size_t p = path.rfind('/');
  return p == std::string::npos ? std::string() : path.substr(0, p + 1);
}

std::string ExtractFileName(const std::string& path) {
  std::size_t p = path.rfind('/');
  return p == std::string::npos ? path : path.substr(p + 1);
}

bool FileExists(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool DirectoryExists(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool ForceDirectories(const std::string& path) {
  if (path.empty()) return false;
  std::string cur;
  for (std::size_t i = 0; i < path.size(); ++i) {
    cur.push_back(path[i]);
    if ((path[i] == '/' && i > 0) || i + 1 == path.size()) mkdir(cur.c_str(), 0755);
  }
  return DirectoryExists(path);
}

std::string SysErrorText(int code) {
  char buf[64];
  std::snprintf(buf, sizeof buf, " (0x%x)", static_cast<unsigned>(code));
  return std::string(std::strerror(code)) + buf;
}

static std::timed_mutex* ThreadLockFor(const std::string& file) {
  static std::mutex m;
  static auto* locks = new std::map<std::string, std::timed_mutex*>();  // lives for the process
  std::lock_guard<std::mutex> g(m);
  auto& slot = (*locks)[file];
  if (!slot) slot = new std::timed_mutex();
  return slot;
}

TGlobalMutex::TGlobalMutex(std::string name) : FName(std::move(name)) {
  std::string safe;
  for (char c : FName) safe.push_back(c == '/' || c == '\\' ? '_' : c);
  if (safe.size() > 200) safe = safe.substr(safe.size() - 200);
  FLockFile = RuntimeFolder() + "edi-" + std::to_string(getuid()) + "-" + safe + ".lock";
  FThreadLock = ThreadLockFor(FLockFile);
}

TGlobalMutex::~TGlobalMutex() {
  if (FHeld || FThreadHeld) Release();
  if (FFd >= 0) close(FFd);
}

bool TGlobalMutex::Acquire(int timeoutMs) {
  using clock = std::chrono::steady_clock;
  auto deadline = clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
  if (timeoutMs < 0)
    FThreadLock->lock();
  else if (!FThreadLock->try_lock_until(deadline))
    return false;
  FThreadHeld = true;
  if (FFd < 0) FFd = open(FLockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (FFd < 0) {
    FThreadHeld = false;
    FThreadLock->unlock();
    throw std::runtime_error("Failed");
  }
  for (;;) {
    if (flock(FFd, LOCK_EX | LOCK_NB) == 0) {
      FHeld = true;
      return true;
    }
    if (errno != EWOULDBLOCK && errno != EINTR) break;
    if (timeoutMs >= 0 && clock::now() >= deadline) break;
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  FThreadHeld = false;
  FThreadLock->unlock();
  return false;
}

void TGlobalMutex::Release() {
  if (FHeld && FFd >= 0) flock(FFd, LOCK_UN);
  FHeld = false;
  if (FThreadHeld) {
    FThreadHeld = false;
    FThreadLock->unlock();
  }
}

}  // namespace common
