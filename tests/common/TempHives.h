// Points the registry store at temporary hive files for the length of a test.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

class TempHives {
 public:
  TempHives() {
    char tmpl[] = "/tmp/edi-hives-XXXXXX";
    FDir = mkdtemp(tmpl);
    setenv("TARNHOLT_MACHINE_HIVE", (FDir + "/machine.reg").c_str(), 1);
    setenv("TARNHOLT_USER_HIVE", (FDir + "/user.reg").c_str(), 1);
  }
  ~TempHives() {
    unsetenv("TARNHOLT_MACHINE_HIVE");
    unsetenv("TARNHOLT_USER_HIVE");
    std::error_code ec;
    std::filesystem::remove_all(FDir, ec);
  }
  TempHives(const TempHives&) = delete;
  TempHives& operator=(const TempHives&) = delete;
  const std::string& Dir() const { return FDir; }
  std::string Machine() const { return FDir + "/machine.reg"; }
  std::string User() const { return FDir + "/user.reg"; }

 private:
  std::string FDir;
};
