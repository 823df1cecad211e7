#include "SheetFixture.h"

#include <dlfcn.h>
#include <edicom/EdiCom.h>

#include <QAction>
#include <QDir>
#include <QTemporaryDir>

#include "registry/Registry.h"

namespace verimek::ui::testsupport {

TFakeApp::TFakeApp(QSize size, TComponentFactory factory)
    : FFactory(std::move(factory)), FPages(new QTabWidget(&FWindow)) {
  FWindow.resize(size);
  FWindow.setCentralWidget(FPages);
  FWindow.show();
}

void TFakeApp::CloseAll() {
  while (FPages->count() > 0) delete FPages->widget(0);
}

QAction* TFakeApp::Command(const QString& name) { return StandInCommands ? new QAction(name, &FWindow) : nullptr; }

namespace {

bool RegisterServer(const QString& lib) {
  void* h = dlopen(lib.toLocal8Bit().constData(), RTLD_NOW | RTLD_LOCAL);
  auto reg = h ? reinterpret_cast<edicom::HRESULT (*)()>(dlsym(h, "DllRegisterServer")) : nullptr;
  return reg && edicom::SUCCEEDED(reg());
}

}  // namespace

bool RegisterBuiltComponents(const QString& hiveDir) {
  const QString bin = QStringLiteral(EDI_BINARY_DIR);
  qputenv("TARNHOLT_MACHINE_HIVE", QDir(hiveDir).filePath(QStringLiteral("machine.reg")).toLocal8Bit());
  qputenv("TARNHOLT_USER_HIVE", QDir(hiveDir).filePath(QStringLiteral("user.reg")).toLocal8Bit());
  if (!RegisterServer(bin + QStringLiteral("/lib/libkalvix.so")) ||
      !RegisterServer(bin + QStringLiteral("/lib/libruvala.so")))
    return false;
  common::TRegistry reg(common::HKEY_LOCAL_MACHINE);
  if (!reg.OpenKey("SOFTWARE\\tarnholt\\services\\Database", true)) return false;
  reg.WriteString("Referential", (bin + QStringLiteral("/data/referential.db")).toStdString());
  return true;
}

bool RegisterBuiltComponentsOnce() {
  static QTemporaryDir dir;
  static const bool done = dir.isValid() && RegisterBuiltComponents(dir.path());
  return done;
}

}  // namespace verimek::ui::testsupport
