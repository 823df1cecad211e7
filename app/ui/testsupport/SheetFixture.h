// What the screenshot tour and the desktop benchmarks build around a sheet: a stand-in for the
// program with its window and page control, and the build's components registered in hives of
// their own. Not part of the program.
#pragma once

#include <QMainWindow>
#include <QSize>
#include <QString>
#include <QTabWidget>

#include "AppServices.h"
#include "BaseSheet.h"
#include "QtWorkerHost.h"
#include "evWorkers.h"

namespace verimek::ui::testsupport {

// The program around the sheets: a main window with a page control, no dialog, no referential
// names. The window is shown at construction.
class TFakeApp final : public TAppServices {
 public:
  explicit TFakeApp(QSize size, TComponentFactory factory = TComponentFactory::ByClassId());

  // Adds a page holding a new sheet of type T and makes it the current page.
  template <class T>
  T* NewSheet() {
    auto* tab = new TTabSheetEx(FPages);
    FPages->addTab(tab, QString());
    T* sheet = nullptr;
    tab->SetFormClass([&](TTabSheetEx* owner) -> TBaseSheetFrm* {
      sheet = new T(owner, *this);
      return sheet;
    });
    FPages->setCurrentWidget(tab);
    return sheet;
  }
  // Closes every page, with its sheet.
  void CloseAll();
  QMainWindow& Window() { return FWindow; }

  // Command answers an action of that name instead of nullptr, for the sheets' pop-up menus.
  bool StandInCommands = false;
  QString UnavailableReason;
  bool Keep = false;

  QAction* Command(const QString& name) override;
  QWidget* MainWindow() override { return &FWindow; }
  QStringList ExecuteOpenDialog() override { return {}; }
  QString ExecuteSaveDialog(const QString&) override { return {}; }
  TTelebibDataModule* Telebib() override { return nullptr; }
  QString TelebibUnavailableReason() override { return UnavailableReason; }
  bool KeepDb() override { return Keep; }
  TWorkerHost& WorkerHost() override { return FHost; }
  const TComponentFactory& ComponentFactory() override { return FFactory; }
  void OpenMessageText(const QString&, const QString&) override {}

 private:
  TComponentFactory FFactory;
  QMainWindow FWindow;
  QTabWidget* FPages;
  // Last member: it waits for the workers' last steps while the sheets are still there.
  TQtWorkerHost FHost;
};

// Points the registry at the hives machine.reg and user.reg in hiveDir, registers the build's
// parser and engine there and names the build's sample referential; false when a component
// cannot be loaded or registered.
bool RegisterBuiltComponents(const QString& hiveDir);
// The same once per process, in a temporary folder that lasts until the process ends.
bool RegisterBuiltComponentsOnce();

}  // namespace verimek::ui::testsupport
