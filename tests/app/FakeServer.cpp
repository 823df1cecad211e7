// The fake document and message as a component server, so that verimek-cli can be run
// against them by class id.
#include <dlfcn.h>

#include <string>

#include "FakeEngine.h"

using namespace edicom;

namespace {

const ClassRegistration kClasses[] = {
    {&ruvala::CLSID_EdiDocument, "EdiDocument Class", "Verimek.EdiDocument", nullptr},
    {&kalvix::CLSID_EdiMessage, "EdiMessage Class", "Tarnholt.EdiMessage.1", nullptr},
};

std::string ModulePath() {
  Dl_info info{};
  dladdr(reinterpret_cast<void*>(&ModulePath), &info);
  char buf[4096];
  return realpath(info.dli_fname, buf) ? buf : info.dli_fname;
}

}  // namespace

EDICOM_API HRESULT DllGetClassObject(const CLSID& clsid, const IID& iid, void** ppv) {
  return fake::GetClassObject(clsid, iid, ppv);
}
EDICOM_API HRESULT DllCanUnloadNow() { return gModuleLocks.load() == 0 ? S_OK : S_FALSE; }
EDICOM_API HRESULT DllRegisterServer() { return EdiRegisterServer(ModulePath().c_str(), kClasses, 2, nullptr); }
EDICOM_API HRESULT DllUnregisterServer() { return EdiUnregisterServer(kClasses, 2, nullptr); }
