// The file sheet's states for the screenshot tour: a run in progress, then the results of
// with-findings.txt: Global Result, By Error Code with its chart, Details with a message selected
// and its errors, then one with its warnings.
// The components are registered in hives of the tour's own and the sample referential is used.
#include <QAction>
#include <QComboBox>
#include <QCoreApplication>
#include <QFile>
#include <QProgressBar>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <cstdio>

#include "Dialogs.h"
#include "ScreenshotRegistry.h"
#include "SheetFile.h"
#include "testsupport/SheetFixture.h"

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

bool Run(const QString& outDir) {
  const QString sample = QStringLiteral(EDI_SHARED_DIR) + QStringLiteral("/samples/with-findings.txt");
  if (!testsupport::RegisterBuiltComponentsOnce()) {
    std::fprintf(stderr, "cannot register the components from %s/lib\n", EDI_BINARY_DIR);
    return false;
  }
  QTemporaryDir work;

  // A day's file big enough to be seen running: the sample forty times over.
  QFile in(sample);
  if (!in.open(QIODevice::ReadOnly)) return false;
  const QByteArray lines = in.readAll();
  const QString bigFile = work.path() + QStringLiteral("/day-20250630.txt");
  QFile big(bigFile);
  if (!big.open(QIODevice::WriteOnly)) return false;
  for (int i = 0; i < 40; ++i) big.write(lines);
  big.close();

  TShotDialogs dialogs;
  SetDialogs(&dialogs);
  bool ok = true;
  {
    testsupport::TFakeApp app(QSize(1000, 700));
    app.StandInCommands = true;
    app.UnavailableReason = QStringLiteral("not connected in this tour");
    auto* sheet = app.NewSheet<TSheetFileFrm>();
    edicom::DATE date = 0;
    ParseIsoDate("2025-06-30", date);
    sheet->MessageDate = date;

    sheet->cb_Filename->setEditText(bigFile);
    sheet->Validate();
    ok = WaitFor([&] { return sheet->ProgressBar->isVisible() && sheet->ProgressBar->value() > 300; }, 60000) &&
         SaveWindow(&app.Window(), outDir, QStringLiteral("filesheet-running"));
    ok = WaitFor([&] { return !sheet->Running(); }, 120000) && ok;

    sheet->cb_Filename->setEditText(sample);
    sheet->Validate();
    ok = WaitFor([&] { return !sheet->Running(); }, 60000) && ok;
    ok = SaveWindow(&app.Window(), outDir, QStringLiteral("filesheet-global-result")) && ok;
    sheet->pc_Main->setCurrentIndex(2);
    ok = SaveWindow(&app.Window(), outDir, QStringLiteral("filesheet-by-error-code")) && ok;
    sheet->pc_Main->setCurrentIndex(5);
    QCoreApplication::processEvents();
    if (sheet->lv_Details->topLevelItemCount() > 1) {
      sheet->lv_Details->setCurrentItem(sheet->lv_Details->topLevelItem(1));
      sheet->lv_Details->setFocus();
    } else {
      ok = false;
    }
    ok = SaveWindow(&app.Window(), outDir, QStringLiteral("filesheet-details")) && ok;
    // The first message has a warning: the lower list's other tab, with its code column.
    sheet->lv_Details->setCurrentItem(sheet->lv_Details->topLevelItem(0));
    sheet->pc_ErrorWarning->setCurrentIndex(1);
    ok = sheet->lv_Warnings->topLevelItemCount() > 0 && ok;
    ok = SaveWindow(&app.Window(), outDir, QStringLiteral("filesheet-details-warnings")) && ok;
    app.CloseAll();
  }
  SetDialogs(nullptr);
  return ok;
}

const TRegisterStates kRegister("filesheet", Run);

}  // namespace

}  // namespace verimek::ui::shots
