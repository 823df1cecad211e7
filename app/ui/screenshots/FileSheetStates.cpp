// The file sheet's states for the screenshot tour: a run in progress, then the results of
// with-findings.txt: Global Result, By Error Code with its chart, Details with a message selected.
// The components are registered in hives of the tour's own and the sample referential is used.
#include <dlfcn.h>
#include <edicom/EdiCom.h>

#include <QAction>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QMainWindow>
#include <QProgressBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <fstream>
#include <memory>

#include "AppServices.h"
#include "BaseSheet.h"
#include "Dialogs.h"
#include "QtWorkerHost.h"
#include "ScreenshotRegistry.h"
#include "SheetFile.h"
#include "evWorkers.h"

namespace verimek::ui::shots {

namespace {

class TShotDialogs final : public TDialogs {
 public:
  TModalResult MessageBox(QWidget*, const QString& text, TMsgDlgType, unsigned) override {
    std::fprintf(stderr, "box: %s\n", qPrintable(text));
    return TModalResult::mrNo;
  }
  QStringList OpenFiles(QWidget*, const TOpenDialogOptions&) override { return {}; }
  QString SaveFile(QWidget*, const TSaveDialogOptions&) override { return {}; }
  int Exec(QDialog&) override { return 0; }
};

class TShotApp final : public TAppServices {
 public:
  TShotApp() : FFactory(TComponentFactory::ByClassId()), FPages(new QTabWidget(&FWindow)) {
    FWindow.resize(1000, 700);
    FWindow.setCentralWidget(FPages);
  }
  QAction* Command(const QString& name) override {
    auto* a = new QAction(name, &FWindow);
    return a;
  }
  QWidget* MainWindow() override { return &FWindow; }
  QStringList ExecuteOpenDialog() override { return {}; }
  QString ExecuteSaveDialog(const QString&) override { return {}; }
  TTelebibDataModule* Telebib() override { return nullptr; }
  QString TelebibUnavailableReason() override { return QStringLiteral("not connected in this tour"); }
  bool KeepDb() override { return false; }
  TWorkerHost& WorkerHost() override { return FHost; }
  const TComponentFactory& ComponentFactory() override { return FFactory; }
  void OpenMessageText(const QString&, const QString&) override {}

  TComponentFactory FFactory;
  QMainWindow FWindow;
  QTabWidget* FPages;
  TQtWorkerHost FHost;
};

bool RegisterServer(const QString& lib) {
  void* h = dlopen(lib.toUtf8().constData(), RTLD_NOW | RTLD_LOCAL);
  auto reg = h ? reinterpret_cast<edicom::HRESULT (*)()>(dlsym(h, "DllRegisterServer")) : nullptr;
  return reg && edicom::SUCCEEDED(reg());
}

bool Run(const QString& outDir) {
  const QString bin = QStringLiteral(EDI_BINARY_DIR);
  const QString sample = QStringLiteral(EDI_SHARED_DIR) + QStringLiteral("/samples/with-findings.txt");
  QTemporaryDir hives;
  qputenv("TARNHOLT_MACHINE_HIVE", (hives.path() + QStringLiteral("/machine.reg")).toUtf8());
  qputenv("TARNHOLT_USER_HIVE", (hives.path() + QStringLiteral("/user.reg")).toUtf8());
  if (!RegisterServer(bin + QStringLiteral("/lib/libkalvix.so")) ||
      !RegisterServer(bin + QStringLiteral("/lib/libruvala.so"))) {
    std::fprintf(stderr, "cannot register the components from %s/lib\n", qPrintable(bin));
    return false;
  }
  std::ofstream(hives.path().toStdString() + "/machine.reg", std::ios::app)
      << "\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\tarnholt\\services\\Database]\n\"Referential\"=\""
      << (bin + QStringLiteral("/data/referential.db")).toStdString() << "\"\n";

  // A day's file big enough to be seen running: the sample forty times over.
  QFile in(sample);
  if (!in.open(QIODevice::ReadOnly)) return false;
  const QByteArray lines = in.readAll();
  const QString bigFile = hives.path() + QStringLiteral("/day-20250630.txt");
  QFile big(bigFile);
  if (!big.open(QIODevice::WriteOnly)) return false;
  for (int i = 0; i < 40; ++i) big.write(lines);
  big.close();

  TShotDialogs dialogs;
  SetDialogs(&dialogs);
  bool ok = true;
  {
    TShotApp app;
    auto* tab = new TTabSheetEx(app.FPages);
    app.FPages->addTab(tab, QString());
    TSheetFileFrm* sheet = nullptr;
    tab->SetFormClass([&](TTabSheetEx* owner) -> TBaseSheetFrm* {
      sheet = new TSheetFileFrm(owner, app);
      return sheet;
    });
    app.FWindow.show();
    edicom::DATE date = 0;
    ParseIsoDate("2025-06-30", date);
    sheet->MessageDate = date;

    sheet->cb_Filename->setEditText(bigFile);
    sheet->Validate();
    ok = WaitFor([&] { return sheet->ProgressBar->isVisible() && sheet->ProgressBar->value() > 300; }, 60000) &&
         SaveWindow(&app.FWindow, outDir, QStringLiteral("filesheet-running"));
    ok = WaitFor([&] { return !sheet->Running(); }, 120000) && ok;

    sheet->cb_Filename->setEditText(sample);
    sheet->Validate();
    ok = WaitFor([&] { return !sheet->Running(); }, 60000) && ok;
    ok = SaveWindow(&app.FWindow, outDir, QStringLiteral("filesheet-global-result")) && ok;
    sheet->pc_Main->setCurrentIndex(2);
    ok = SaveWindow(&app.FWindow, outDir, QStringLiteral("filesheet-by-error-code")) && ok;
    sheet->pc_Main->setCurrentIndex(5);
    QCoreApplication::processEvents();
    if (sheet->lv_Details->topLevelItemCount() > 1) {
      sheet->lv_Details->setCurrentItem(sheet->lv_Details->topLevelItem(1));
      sheet->lv_Details->setFocus();
    } else {
      ok = false;
    }
    ok = SaveWindow(&app.FWindow, outDir, QStringLiteral("filesheet-details")) && ok;
    delete tab;
  }
  SetDialogs(nullptr);
  qunsetenv("TARNHOLT_MACHINE_HIVE");
  qunsetenv("TARNHOLT_USER_HIVE");
  return ok;
}

const TRegisterStates kRegister("filesheet", Run);

}  // namespace

}  // namespace verimek::ui::shots
