// Verimek: trace switches, start-up checks, then the main window and the message loop.
#include <dlfcn.h>
#include <edicom/EdiCom.h>
#include <edicom/EdiComCpp.h>

#include <QApplication>
#include <stdexcept>
#include <string>

#include "Dialogs.h"
#include "Mainfrm.h"
#include "Sheets.h"
#include "SysTrace.h"
#include "UModuleInfo.h"
#include "evAboutDlg.h"

namespace {

// "-name" or "/name", in any case.
bool IsSwitch(const QString& arg, const char* name) {
  if (arg.size() < 2 || (arg[0] != QLatin1Char('-') && arg[0] != QLatin1Char('/'))) return false;
  return arg.mid(1).compare(QLatin1String(name), Qt::CaseInsensitive) == 0;
}

void CheckDependencies() {
  common::Trace()->Write("CheckDependencies...", common::ttInformation);
  for (const char* lib : {verimek::kSqliteLibrary}) {
    void* h = dlopen(lib, RTLD_NOW | RTLD_LOCAL);
    if (!h) throw std::runtime_error(std::string("Unable to load \"") + lib + "\"");
    dlclose(h);
  }
  for (const verimek::TProgIds& c : verimek::kComponents) {
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

void ErrorBox(const char* text, void*) { verimek::ui::ShowError(nullptr, QString::fromUtf8(text)); }

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Verimek"));
  QApplication::setWindowIcon(verimek::ui::ProgramIcon());
  EdiSetConsoleTraceAllowed(0);

  // The toolkit has taken its own options out; what is left are the switches and files.
  const QStringList args = QApplication::arguments().mid(1);
  std::vector<std::string> traceArgs{"verimek"};
  verimek::ui::TMainFormOptions options;
  for (const QString& arg : args) {
    if (IsSwitch(arg, "trace"))
      traceArgs.push_back(arg.toStdString());
    else if (IsSwitch(arg, "keepdb"))
      options.KeepDb = true;
    else
      options.Files << arg;
  }
  std::vector<const char*> traceArgv;
  traceArgv.reserve(traceArgs.size());
  for (const std::string& a : traceArgs) traceArgv.push_back(a.c_str());
  std::string version = verimek::TModuleInfo().Version();
  if (version.empty()) version = VERIMEK_VERSION;
  common::InitProgramTrace(static_cast<int>(traceArgv.size()), traceArgv.data(), version.c_str());
  EdiSetErrorBoxHandler(ErrorBox, nullptr);

  CoInitialize(nullptr);
  try {
    CheckDependencies();
  } catch (const std::exception& e) {
    verimek::ui::ShowError(nullptr, QStringLiteral("Application error :\n\n") + QString::fromUtf8(e.what()));
    CoUninitialize();
    return 1;
  }
  int rc = 0;
  {
    verimek::ui::TMainForm form(options);
    verimek::ui::InstallSheets(form);
    form.show();
    rc = QApplication::exec();
  }
  CoUninitialize();
  return rc;
}
