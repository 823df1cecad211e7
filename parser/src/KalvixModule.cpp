// Entry points of libkalvix.so: class objects and registration.
#include <string>

#include "EdiObjects.h"
#include "Platform.h"

using namespace edicom;
using namespace kalvix;

namespace {

const ClassRegistration kClasses[] = {
    {&CLSID_EdiMessage, "EdiMessage Class", "Tarnholt.EdiMessage.1", "Tarnholt.EdiMessage"},
    {&CLSID_EdiSegment, "EdiSegment Class", "Tarnholt.EdiSegment.1", "Tarnholt.EdiSegment"},
};
const TypeLibRegistration kTypeLib = {&LIBID_KalvixLib, "KalvixLib", "1.0", "Ombra Edifact Parser/Generator"};

// The soname link rather than the versioned file, so that an update keeps the registration.
std::string ModulePath() { return common::ServerFileName(reinterpret_cast<const void*>(&ModulePath), EDI_SONAME); }

template <class T>
HRESULT Factory(const IID& iid, void** ppv) {
  auto* f = new (std::nothrow) ClassFactory<T>();
  if (!f) return E_OUTOFMEMORY;
  HRESULT hr = f->QueryInterface(iid, ppv);
  f->Release();
  return hr;
}

}  // namespace

EDICOM_API HRESULT DllGetClassObject(const CLSID& rclsid, const IID& riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (rclsid == CLSID_EdiMessage) return Factory<EdiMessage>(riid, ppv);
  if (rclsid == CLSID_EdiSegment) return Factory<EdiSegment>(riid, ppv);
  return CLASS_E_CLASSNOTAVAILABLE;
}

EDICOM_API HRESULT DllCanUnloadNow() { return gModuleLocks.load() == 0 ? S_OK : S_FALSE; }

EDICOM_API HRESULT DllRegisterServer() {
  std::string path = ModulePath();
  if (path.empty()) return SELFREG_E_CLASS;
  return EdiRegisterServer(path.c_str(), kClasses, 2, &kTypeLib);
}

EDICOM_API HRESULT DllUnregisterServer() { return EdiUnregisterServer(kClasses, 2, &kTypeLib); }
