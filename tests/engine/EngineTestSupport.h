// Shared helpers of the engine tests: the sample referential files and a temporary machine hive.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "Platform.h"

namespace enginetest {

// build/data/referential.db, made from the shipped SQL dump.
inline std::string SampleSqlite() { return std::string(EDI_BINARY_DIR) + "/data/referential.db"; }
inline std::string SampleAccess() { return std::string(EDI_SHARED_DIR) + "/fixtures/access/referential.mdb"; }
inline std::string SamplesDir() { return std::string(EDI_SHARED_DIR) + "/samples/"; }

// Points HKEY_LOCAL_MACHINE at a fresh file for the life of the object.
class TempMachineHive {
 public:
  explicit TempMachineHive(const std::string& name) {
    FPath = common::TempFolder() + "ruvala-test-" + name + "-" + std::to_string(::getpid()) + ".reg";
    std::remove(FPath.c_str());
    const char* old = std::getenv("TARNHOLT_MACHINE_HIVE");
    if (old) FOld = old, FHadOld = true;
    ::setenv("TARNHOLT_MACHINE_HIVE", FPath.c_str(), 1);
  }
  ~TempMachineHive() {
    std::remove(FPath.c_str());
    if (FHadOld)
      ::setenv("TARNHOLT_MACHINE_HIVE", FOld.c_str(), 1);
    else
      ::unsetenv("TARNHOLT_MACHINE_HIVE");
  }
  const std::string& Path() const { return FPath; }

 private:
  std::string FPath, FOld;
  bool FHadOld = false;
};

}  // namespace enginetest
