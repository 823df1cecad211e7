// Helpers shared by the benchmark programs: memory readings, component registration and the
// large sample referential.
#pragma once

#include <dlfcn.h>
#include <edicom/EdiCom.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "Platform.h"

namespace bench {

// Resident memory of the process in KB, -1 when /proc does not tell.
inline long ResidentKb() {
  std::ifstream in("/proc/self/status");
  for (std::string line; std::getline(in, line);)
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
  return -1;
}

// Loads a component library and runs its DllRegisterServer (into whatever hive is current).
inline bool RegisterServer(const std::string& lib) {
  void* h = dlopen(lib.c_str(), RTLD_NOW | RTLD_LOCAL);
  auto reg = h ? reinterpret_cast<edicom::HRESULT (*)()>(dlsym(h, "DllRegisterServer")) : nullptr;
  return reg && edicom::SUCCEEDED(reg());
}

// Folder of the large sample (referential.db, engine.db), written by make_sample.py into the
// temporary folder on first use, with the engine database also under the name the engine looks
// for beside the referential (Ruvala.db); empty when it cannot be built.
inline std::string LargeSampleDir() {
  std::string dir = common::TempFolder() + "bench-referential-large";
  if (!common::FileExists(dir + "/referential.db") || !common::FileExists(dir + "/engine.db")) {
    std::string cmd = "python3 " EDI_SHARED_DIR "/referential/make_sample.py --size large --quiet --out-dir " + dir;
    if (std::system(cmd.c_str()) != 0) {
      std::fprintf(stderr, "cannot build the large sample (%s)\n", cmd.c_str());
      return {};
    }
  }
  if (!common::FileExists(dir + "/Ruvala.db") &&
      std::system(("cp '" + dir + "/engine.db' '" + dir + "/Ruvala.db'").c_str()) != 0) {
    std::fprintf(stderr, "cannot copy the engine database in %s\n", dir.c_str());
    return {};
  }
  return dir;
}

}  // namespace bench
