// Any text through the parser and the validator together, in the plain, filter and
// inter-application modes: findings or failure items, never a crash, a hang or a leak. Within a
// mode, validating the same text again and through ValidateEx gives the same findings, ValidateEx's
// result agrees with them, and the walk by a handle per segment finds what the parser's cursor
// found. Needs the parser library and the sample referential and engine database of the build;
// without them it exits with status 77. The unit tests replay fuzz/corpus/validate through this
// same entry point.
#include <dlfcn.h>
#include <edicom/EdiComCpp.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "Platform.h"
#include "ecDataBase.h"
#include "ecValidator.h"

namespace {

std::unique_ptr<ruvala::TTelebib> gRef;
std::string gHive;

// Code, number, key and message of every finding, errors then warnings.
std::string Findings(const ruvala::TValidator& v) {
  std::string out;
  auto add = [&out](const char* list, const ruvala::TEdiErrorList& items) {
    for (int i = 0; i < items.Count(); ++i) {
      const ruvala::TEdiErrorItem& it = items.GetItems(i);
      out += std::string(list) + " " + it.Error.Code + " " + std::to_string(it.SgmtNo) + " " + it.SgmtKey + " " +
             it.Error.Message + "\n";
    }
  };
  add("E", v.Errors());
  add("W", v.Warnings());
  return out;
}

[[noreturn]] void Broken(const char* what, const std::string& a, const std::string& b) {
  std::fprintf(stderr, "fuzz_validate: %s\n--- first:\n%s--- then:\n%s", what, a.c_str(), b.c_str());
  std::abort();
}

}  // namespace

// Registers the parser component in a private hive and loads the sample referential; false
// with the reason when either is missing.
bool ValidateFuzzSetUp(std::string& why) {
  if (gRef) return true;
  gHive = common::TempFolder() + "fuzz-validate-" + std::to_string(::getpid()) + ".reg";
  ::setenv("TARNHOLT_MACHINE_HIVE", gHive.c_str(), 1);
  ::setenv("TARNHOLT_USER_HIVE", (gHive + ".user").c_str(), 1);
  ::setenv("KALVIX_ERROR_ECHO", "0", 1);  // a syntax error per input would flood the log
  void* h = dlopen(EDI_BINARY_DIR "/lib/libkalvix.so", RTLD_NOW | RTLD_LOCAL);
  auto reg = h ? reinterpret_cast<edicom::HRESULT (*)()>(dlsym(h, "DllRegisterServer")) : nullptr;
  if (!reg || edicom::FAILED(reg())) {
    why = "cannot register " EDI_BINARY_DIR "/lib/libkalvix.so";
    return false;
  }
  std::atexit([] {
    std::remove(gHive.c_str());
    std::remove((gHive + ".user").c_str());
  });
  CoInitialize(nullptr);
  const char* path = EDI_BINARY_DIR "/data/referential.db";
  if (!common::FileExists(path)) {
    why = std::string("no sample referential ") + path;
    return false;
  }
  auto ref = std::make_unique<ruvala::TTelebib>();
  ref->SetAccessDbName(path);
  // Inter-application mode runs the sample engine database's control tables and their scripts.
  const char* engineDb = EDI_BINARY_DIR "/data/Ruvala.db";
  if (!common::FileExists(engineDb)) {
    why = std::string("no sample engine database ") + engineDb;
    return false;
  }
  if (ruvala::Relations().DbName().empty()) ruvala::Relations().SetDbName(engineDb);
  gRef = std::move(ref);
  return true;
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::string why;
  if (!ValidateFuzzSetUp(why)) {
    std::fprintf(stderr, "fuzz_validate: %s\n", why.c_str());
    std::exit(77);
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  for (int mode = 0; mode < 3; ++mode) {
    ruvala::TValidator v(gRef.get());
    v.SetInterApplication(mode == 2);
    v.SetCheckFilter(mode == 1);
    v.SetMessageDate(45838);
    v.SetEdiMessage(text);
    bool valid = v.Validate();
    std::string first = Findings(v);
    if (valid != (v.Errors().Count() == 0)) Broken("Validate disagrees with its error list", first, first);
    std::string error = "\x01";
    int result = v.ValidateEx(error);
    std::string again = Findings(v);
    // The control scripts of inter-application mode keep variables between runs by design.
    if (mode < 2 && again != first) Broken("ValidateEx found something else", first, again);
    // An empty text or a failed walk (E0002, E0003 about the whole message) gives 0.
    bool whole = false;
    for (int i = 0; i < v.Errors().Count(); ++i) {
      const ruvala::TEdiErrorItem& it = v.Errors().GetItems(i);
      whole |= it.SgmtNo == 0 && (it.Error.Code == "E0002" || it.Error.Code == "E0003");
    }
    int want = whole                      ? 0
               : v.Errors().Count() > 0   ? (v.Errors().GetItems(0).Error.Code == "E0004" ? 1 : 3)
               : v.Warnings().Count() > 0 ? 2
                                          : 0;
    if (result != want)
      Broken("ValidateEx result does not match its findings", std::to_string(result), std::to_string(want));
    if ((result <= 1) != (error == "\x01")) Broken("ValidateEx text set on 0 or 1, or kept on 2 or 3", error, "");
    v.Validate();
    if (mode < 2 && Findings(v) != first) Broken("a second Validate found something else", first, Findings(v));
    // The walk by a handle per segment, as a client of the published interfaces walks, finds
    // what the parser's cursor found.
    ruvala::TValidator byHandles(gRef.get());
    byHandles.SetInterApplication(mode == 2);
    byHandles.SetCheckFilter(mode == 1);
    byHandles.SetMessageDate(45838);
    byHandles.SetCursorWalk(false);
    byHandles.SetEdiMessage(text);
    if (byHandles.Validate() != valid || Findings(byHandles) != first)
      Broken("the walk by handles found something else than the cursor", first, Findings(byHandles));
  }
  return 0;
}
