// register / unregister: run the entry points of the component libraries.
#include <dlfcn.h>
#include <edicom/EdiCom.h>
#include <edicom/EdiComCpp.h>

#include <cstdio>
#include <string>

#include "Commands.h"
#include "Output.h"
#include "Platform.h"

namespace cli {

// The component libraries beside the program, or in ../lib when installed.
static std::vector<std::string> DefaultLibraries() {
  std::string dir = common::ExtractFilePath(common::ProgramFileName());
  std::vector<std::string> out;
  for (const char* name : {"libkalvix.so", "libruvala.so"}) {
    for (const std::string& cand : {dir + name, dir + "../lib/" + name, dir + "../lib/x86_64-linux-gnu/" + name}) {
      if (common::FileExists(cand)) {
        char buf[4096];
        out.push_back(realpath(cand.c_str(), buf) ? std::string(buf) : cand);
        break;
      }
    }
  }
  return out;
}

static int RunEntry(const Args& args, const char* entry) {
  std::vector<std::string> libs = args.empty() ? DefaultLibraries() : args;
  if (libs.empty()) {
    ErrPrintf("verimek-cli: no component library found beside the program\n");
    return 2;
  }
  int rc = 0;
  for (const std::string& lib : libs) {
    char buf[4096];
    std::string path = realpath(lib.c_str(), buf) ? std::string(buf) : lib;
    void* h = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!h) {
      ErrPrintf("%s: %s\n", path.c_str(), dlerror());
      rc = 2;
      continue;
    }
    auto fn = reinterpret_cast<edicom::HRESULT (*)()>(dlsym(h, entry));
    if (!fn) {
      ErrPrintf("%s: no %s entry point\n", path.c_str(), entry);
      rc = 2;
      continue;
    }
    edicom::HRESULT hr = fn();
    if (edicom::FAILED(hr)) {
      std::string why = edicom::TakeErrorDescription();
      ErrPrintf("%s: %s failed (0x%08X)%s%s\n", path.c_str(), entry, static_cast<unsigned>(hr), why.empty() ? "" : ": ",
                why.c_str());
      rc = 2;
    } else {
      std::printf("%s: %s\n", entry, path.c_str());
    }
  }
  return rc;
}

int CmdRegister(const Args& args) { return RunEntry(args, "DllRegisterServer"); }
int CmdUnregister(const Args& args) { return RunEntry(args, "DllUnregisterServer"); }

}  // namespace cli
