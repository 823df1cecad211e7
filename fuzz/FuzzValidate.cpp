// Any text through the parser and the validator together: findings or failure items, never a
// crash, a hang or a leak. Needs the parser library and the sample referential of the build.
#include <dlfcn.h>
#include <edicom/EdiComCpp.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "Platform.h"
#include "Registry.h"
#include "ecValidator.h"

static std::unique_ptr<ruvala::TTelebib> gRef;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::string hive = common::TempFolder() + "fuzz-validate-" + std::to_string(::getpid()) + ".reg";
  ::setenv("TARNHOLT_MACHINE_HIVE", hive.c_str(), 1);
  ::setenv("TARNHOLT_USER_HIVE", (hive + ".user").c_str(), 1);
  void* h = dlopen(EDI_BINARY_DIR "/lib/libkalvix.so", RTLD_NOW | RTLD_LOCAL);
  auto reg = h ? reinterpret_cast<edicom::HRESULT (*)()>(dlsym(h, "DllRegisterServer")) : nullptr;
  if (!reg || edicom::FAILED(reg())) std::abort();
  CoInitialize(nullptr);
  gRef = std::make_unique<ruvala::TTelebib>();
  gRef->SetAccessDbName(EDI_BINARY_DIR "/data/referential.db");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  for (int mode = 0; mode < 3; ++mode) {
    ruvala::TValidator v(gRef.get());
    v.SetInterApplication(mode == 2);
    v.SetCheckFilter(mode >= 1);
    v.SetMessageDate(45838);
    v.SetEdiMessage(text);
    v.Validate();
    std::string error;
    v.ValidateEx(error);
  }
  return 0;
}
