// The message sheet's states: findings listed and marked, warnings only, the syntax errors of a
// broken interchange, the search dialog. The engine and parser of the build are registered in
// temporary hives and read the sample referential.
#include <dlfcn.h>
#include <edicom/EdiCom.h>
#include <stdlib.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QMainWindow>
#include <QTabWidget>
#include <QTreeWidget>
#include <QtGlobal>
#include <fstream>
#include <memory>

#include "AppServices.h"
#include "EdiEditor.h"
#include "QtWorkerHost.h"
#include "ScreenshotRegistry.h"
#include "SearchTextDlg.h"
#include "Settings.h"
#include "SheetMessage.h"
#include "evWorkers.h"

namespace verimek::ui::shots {

namespace {

// Registers the components of the build once, in hives of their own; false when they are missing.
bool RegisterComponents() {
  static const bool done = [] {
    QString dir =
        QDir::temp().filePath(QStringLiteral("verimek-shots-hives-%1").arg(QCoreApplication::applicationPid()));
    QDir().mkpath(dir);
    qputenv("TARNHOLT_MACHINE_HIVE", QDir(dir).filePath(QStringLiteral("machine.reg")).toUtf8());
    qputenv("TARNHOLT_USER_HIVE", QDir(dir).filePath(QStringLiteral("user.reg")).toUtf8());
    for (const char* name : {"libkalvix.so", "libruvala.so"}) {
      const std::string path = std::string(EDI_BINARY_DIR) + "/lib/" + name;
      void* h = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
      if (!h) return false;
      auto fn = reinterpret_cast<edicom::HRESULT (*)()>(dlsym(h, "DllRegisterServer"));
      if (!fn || edicom::FAILED(fn())) return false;
    }
    std::ofstream(QDir(dir).filePath(QStringLiteral("machine.reg")).toStdString(), std::ios::app)
        << "\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\tarnholt\\services\\Database]\n\"Referential\"=\"" << EDI_BINARY_DIR
        << "/data/referential.db\"\n";
    return true;
  }();
  return done;
}

QStringList SampleLines(const char* name) {
  QFile f(QStringLiteral(EDI_SHARED_DIR "/samples/") + QString::fromUtf8(name));
  if (!f.open(QIODevice::ReadOnly)) return {};
  return QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

// A main window around one message sheet.
class TShotApp final : public TAppServices {
 public:
  TShotApp() : FFactory(TComponentFactory::ByClassId()), FPages(new QTabWidget(&FWindow)) {
    FWindow.resize(1000, 620);
    FWindow.setCentralWidget(FPages);
    auto* tab = new TTabSheetEx(FPages);
    FPages->addTab(tab, QString());
    tab->SetFormClass([this](TTabSheetEx* owner) -> TBaseSheetFrm* {
      Sheet = new TSheetMessageFrm(owner, *this);
      return Sheet;
    });
    FWindow.show();
  }
  QAction* Command(const QString&) override { return nullptr; }
  QWidget* MainWindow() override { return &FWindow; }
  QStringList ExecuteOpenDialog() override { return {}; }
  QString ExecuteSaveDialog(const QString&) override { return {}; }
  TTelebibDataModule* Telebib() override { return nullptr; }
  QString TelebibUnavailableReason() override { return {}; }
  bool KeepDb() override { return false; }
  TWorkerHost& WorkerHost() override { return FHost; }
  const TComponentFactory& ComponentFactory() override { return FFactory; }
  void OpenMessageText(const QString&, const QString&) override {}

  QMainWindow& Window() { return FWindow; }
  TSheetMessageFrm* Sheet = nullptr;

  // Validates and waits for the lists; false when the validation did not end.
  bool Validate(const QString& caption, const QString& text, bool indent = false) {
    Sheet->LoadText(caption, text);
    if (indent) Sheet->FormatEdifact();
    Sheet->Validate();
    return WaitFor([this] { return !Sheet->ValidateRunning(); }) &&
           WaitFor([this] { return !Sheet->SyntaxCheckRunning(); });
  }

 private:
  TComponentFactory FFactory;
  QMainWindow FWindow;
  QTabWidget* FPages;
  TQtWorkerHost FHost;
};

bool Findings(const QString& outDir) {
  if (!RegisterComponents()) return false;
  const QStringList lines = SampleLines("with-findings.txt");
  if (lines.size() < 13) return false;
  // A message with errors and warnings: the obsolete header qualifier of one line, the bad
  // values of another.
  QString text = lines[1];
  text.replace(QStringLiteral("XEH+90+1+0201+1++10'"), lines[12].section(QLatin1Char('\''), 1, 1) + QLatin1Char('\''));
  TShotApp app;
  if (!app.Validate(QStringLiteral("with-findings.txt"), text)) return false;
  TSheetMessageFrm* s = app.Sheet;
  if (s->lv_Errors->topLevelItemCount() == 0) return false;
  s->lv_Errors->topLevelItem(0)->setSelected(true);
  s->lv_Errors->setCurrentItem(s->lv_Errors->topLevelItem(0));
  s->GotoSegment();
  return SaveWindow(&app.Window(), outDir, QStringLiteral("msgsheet-findings"));
}

bool WarningsOnly(const QString& outDir) {
  if (!RegisterComponents()) return false;
  const QStringList lines = SampleLines("with-findings.txt");
  if (lines.isEmpty()) return false;
  TShotApp app;
  if (!app.Validate(QStringLiteral("warnings"), lines[0], true)) return false;
  return SaveWindow(&app.Window(), outDir, QStringLiteral("msgsheet-warnings"));
}

bool SyntaxErrors(const QString& outDir) {
  if (!RegisterComponents()) return false;
  const QStringList lines = SampleLines("syntax-errors.txt");
  if (lines.size() < 2) return false;
  TShotApp app;
  if (!app.Validate(QStringLiteral("syntax-errors.txt"), lines[1])) return false;
  TSheetMessageFrm* s = app.Sheet;
  if (s->lv_Errors->topLevelItemCount() != 1) return false;
  s->ContextPopupMenu(QStringLiteral("E0005"), s->lv_Errors->topLevelItem(0)->text(3));
  if (!WaitFor([s] { return !s->SyntaxCheckRunning(); })) return false;
  return SaveWindow(&app.Window(), outDir, QStringLiteral("msgsheet-syntax-errors"));
}

bool SearchDialog(const QString& outDir) {
  TSearchTextDlg dlg;
  TSearchOptions o;
  o.Text = "ATT+A020";
  o.History = {"ATT+A020", "DTM+006", "XEH"};
  o.WholeWords = true;
  o.FromCaret = true;
  dlg.SetOptions(o);
  dlg.show();
  return SaveWindow(&dlg, outDir, QStringLiteral("msgsheet-search-dialog"));
}

const TRegisterStates kFindings("msgsheet-findings", Findings);
const TRegisterStates kWarnings("msgsheet-warnings", WarningsOnly);
const TRegisterStates kSyntax("msgsheet-syntax-errors", SyntaxErrors);
const TRegisterStates kSearch("msgsheet-search-dialog", SearchDialog);

}  // namespace

}  // namespace verimek::ui::shots
