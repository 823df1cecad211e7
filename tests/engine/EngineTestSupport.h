// Shared helpers of the engine tests: the sample referential files and a temporary machine hive.
#pragma once

#include <dlfcn.h>
#include <edicom/EdiComCpp.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>

#include "Platform.h"

namespace enginetest {

// build/data/referential.db, made from the shipped SQL dump.
inline std::string SampleSqlite() { return std::string(EDI_BINARY_DIR) + "/data/referential.db"; }
inline std::string SampleAccess() { return std::string(EDI_SHARED_DIR) + "/fixtures/access/referential.mdb"; }
// The engine databases beside them.
inline std::string SampleEngineSqlite() { return std::string(EDI_BINARY_DIR) + "/data/Ruvala.db"; }
inline std::string SampleEngineAccess() { return std::string(EDI_SHARED_DIR) + "/fixtures/access/Ruvala.mdb"; }
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

// Loads a component library of the build and runs its DllRegisterServer.
inline bool RegisterComponentLibrary(const std::string& name) {
  std::string lib = std::string(EDI_BINARY_DIR) + "/lib/" + name;
  void* h = common::FileExists(lib) ? dlopen(lib.c_str(), RTLD_NOW | RTLD_LOCAL) : nullptr;
  auto reg = h ? reinterpret_cast<edicom::HRESULT (*)()>(dlsym(h, "DllRegisterServer")) : nullptr;
  return reg && edicom::SUCCEEDED(reg());
}

// Registers the parser component in a temporary hive for the whole test program.
class ParserEnvironment : public ::testing::Environment {
 public:
  static bool Available() { return FAvailable; }
  void SetUp() override {
    FHive = std::make_unique<TempMachineHive>("parser");
    ::setenv("TARNHOLT_USER_HIVE", (FHive->Path() + ".user").c_str(), 1);
    FAvailable = RegisterComponentLibrary("libkalvix.so");
    CoInitialize(nullptr);
  }
  void TearDown() override {
    CoUninitialize();
    std::remove((FHive->Path() + ".user").c_str());
    FHive.reset();
  }

 private:
  std::unique_ptr<TempMachineHive> FHive;
  static inline bool FAvailable = false;
};

}  // namespace enginetest
