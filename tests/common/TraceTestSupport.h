// Fixture of the trace tests: a fake clock, a fake event log and debug channel, a temporary
// folder and temporary registry hives.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "Platform.h"
#include "SysTrace.h"

namespace tracetest {

struct Event {
  std::string Source;
  common::TEventType Type;
  std::string Text;
};

inline common::TLocalTime gNow{2012, 1, 10, 9, 5, 3, 7};
inline common::TLocalTime FakeNow() { return gNow; }

class TraceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    gNow = {2012, 1, 10, 9, 5, 3, 7};
    FOldClock = common::SetTraceClock(&FakeNow);
    common::SetEventLogHook([this](const std::string& source, common::TEventType type, const std::string& text) {
      std::lock_guard<std::mutex> l(FLock);
      FEvents.push_back({source, type, text});
    });
    common::SetDebugOutputHook([this](const std::string& text) {
      std::lock_guard<std::mutex> l(FLock);
      FDebug.push_back(text);
    });
    char tmpl[] = "/tmp/tracetest-XXXXXX";
    FDir = mkdtemp(tmpl);
    FDir += "/";
    setenv("TARNHOLT_MACHINE_HIVE", (FDir + "machine.reg").c_str(), 1);
    setenv("TARNHOLT_USER_HIVE", (FDir + "user.reg").c_str(), 1);
  }
  void TearDown() override {
    common::SetEventLogHook({});
    common::SetDebugOutputHook({});
    common::SetTraceClock(FOldClock);
    std::filesystem::remove_all(FDir);
  }

  std::vector<Event> Events() {
    std::lock_guard<std::mutex> l(FLock);
    return FEvents;
  }
  std::vector<std::string> EventTexts() {
    std::vector<std::string> r;
    for (const Event& e : Events()) r.push_back(e.Text);
    return r;
  }
  std::vector<std::string> Debug() {
    std::lock_guard<std::mutex> l(FLock);
    return FDebug;
  }
  void ClearLogs() {
    std::lock_guard<std::mutex> l(FLock);
    FEvents.clear();
    FDebug.clear();
  }

  static std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }
  static void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
  }
  static bool Exists(const std::string& path) { return std::filesystem::exists(path); }
  // Sets a file's last write time to `secondsAgo` before now.
  static void Age(const std::string& path, long secondsAgo) {
    auto t = std::filesystem::file_time_type::clock::now() - std::chrono::seconds(secondsAgo);
    std::filesystem::last_write_time(path, t);
  }

  std::string FDir;

 private:
  common::TTraceClock FOldClock = nullptr;
  std::mutex FLock;
  std::vector<Event> FEvents;
  std::vector<std::string> FDebug;
};

// "¦" as written to files (Windows-1252) and as the sinks hold it (UTF-8).
inline const std::string kBarAnsi = "\xA6";
inline const std::string kBar = "\xC2\xA6";

}  // namespace tracetest
