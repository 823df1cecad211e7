// Verimek: start-up checks, then the main window.
#include <dlfcn.h>
#include <edicom/EdiCom.h>
#include <edicom/EdiComCpp.h>

#include <QApplication>
#include <QMessageBox>
#include <stdexcept>
#include <string>

#include "Mainfrm.h"
#include "SysTrace.h"

namespace {

// Components that must be creatable by program identifier, and the library that must load.
struct TProgIds {
  const char* File;
  const char* ProgId;
};
const TProgIds kComponents[] = {{"libkalvix.so", "Tarnholt.EdiMessage.1"}, {"libruvala.so", "Verimek.EdiDocument"}};
const char* const kLibraries[] = {"libsqlite3.so.0"};

void CheckDependencies() {
  common::Trace()->Write("CheckDependencies...", common::ttInformation);
  for (const char* lib : kLibraries) {
    void* h = dlopen(lib, RTLD_NOW | RTLD_LOCAL);
    if (!h) throw std::runtime_error(std::string("Unable to load \"") + lib + "\"");
    dlclose(h);
  }
  for (const TProgIds& c : kComponents) {
    std::u16string id = edicom::Utf8ToUtf16(c.ProgId);
    edicom::CLSID clsid{};
    edicom::ComPtr<edicom::IUnknown> obj;
    edicom::HRESULT hr = CLSIDFromProgID(id.c_str(), &clsid);
    if (edicom::SUCCEEDED(hr))
      hr = CoCreateInstance(clsid, nullptr, edicom::CLSCTX_INPROC_SERVER, edicom::IID_IUnknown, obj.PutVoid());
    if (edicom::FAILED(hr))
      throw std::runtime_error(std::string("Unable to create com object \"") + c.ProgId + "\" (" + c.File + ")");
  }
}

void ErrorBox(const char* text, void*) { QMessageBox::critical(nullptr, "Verimek", QString::fromUtf8(text)); }

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  EdiSetConsoleTraceAllowed(0);
  common::InitProgramTrace(argc, argv, VERIMEK_VERSION);
  EdiSetErrorBoxHandler(ErrorBox, nullptr);
  CoInitialize(nullptr);
  try {
    CheckDependencies();
  } catch (const std::exception& e) {
    QMessageBox::critical(nullptr, "Verimek", QString("Application error :\n\n") + QString::fromUtf8(e.what()));
    return 1;
  }
  TMainForm form;
  form.show();
  int rc = app.exec();
  CoUninitialize();
  return rc;
}
