// The main window's states of the tour: start-up with the overlay, the empty window after the
// load, the about box, and the tab pop-up menu over two pages.
#include <edicom/EdiComCpp.h>

#include <QApplication>
#include <QDir>
#include <QMenu>
#include <QPainter>
#include <QTabBar>
#include <QTabWidget>
#include <QTreeWidget>

#include "Mainfrm.h"
#include "ProgressFrm.h"
#include "ScreenshotRegistry.h"
#include "evAboutDlg.h"
#include "testsupport/SheetFixture.h"

namespace verimek::ui::shots {

namespace {

// The hives of the tour, with the build's components registered and the engine pointed at the
// build's sample referential; the about box shows a component that failed as missing.
void PrepareHives() {
  static bool started = false;
  if (started) return;
  started = true;
  testsupport::RegisterBuiltComponentsOnce();
  CoInitialize(nullptr);
}

TMainFormOptions TourOptions() {
  TMainFormOptions options;
  options.PostStart = false;
  options.MruKey = "Software\\Solberk\\VerimekTour";
  return options;
}

// The window with the top-level boxes over it (overlay, menus) painted where they stand.
bool SaveComposite(QWidget* window, const QList<QWidget*>& over, const QString& outDir, const QString& name) {
  for (int i = 0; i < 5; ++i) QApplication::processEvents();
  QPixmap shot = window->grab();
  QPainter p(&shot);
  for (QWidget* w : over)
    if (w && w->isVisible()) p.drawPixmap(w->mapToGlobal(QPoint(0, 0)) - window->mapToGlobal(QPoint(0, 0)), w->grab());
  p.end();
  const QString path = QDir(outDir).filePath(name + QStringLiteral(".png"));
  const bool ok = shot.save(path, "PNG");
  std::fprintf(ok ? stdout : stderr, "%s %s\n", ok ? "wrote" : "cannot write", qPrintable(path));
  return ok;
}

const TRegisterStates kStartup("shell-startup", [](const QString& outDir) {
  TMainForm form(TourOptions());
  form.show();
  // The look of the start message while the worker runs.
  form.SetBusy(true);
  form.setEnabled(false);
  ShowProgress(&form, TProgressBarStyle::pbstMarquee, QStringLiteral("Loading Telebib..."), 100, 0);
  const bool ok = SaveComposite(&form, {ProgressFrm()}, outDir, QStringLiteral("shell-startup"));
  HideProgress();
  form.setEnabled(true);
  form.SetBusy(false);
  return ok;
});

const TRegisterStates kEmpty("shell-empty", [](const QString& outDir) {
  TMainForm form(TourOptions());
  form.show();
  form.UpdateCommands();
  return SaveWindow(&form, outDir, QStringLiteral("shell-empty"));
});

const TRegisterStates kAbout("shell-about", [](const QString& outDir) {
  PrepareHives();
  TMainForm form(TourOptions());
  form.show();
  const TComponentFactory factory = TComponentFactory::ByClassId();
  TAboutBox box(factory, &form, (QApplication::applicationDirPath() + QStringLiteral("/verimek")).toStdString());
  box.show();
  box.Fill();
  return SaveWindow(&box, outDir, QStringLiteral("shell-about"));
});

const TRegisterStates kTabPopup("shell-tab-popup", [](const QString& outDir) {
  TMainForm form(TourOptions());
  form.show();
  const QStringList names{QStringLiteral("policy-0001.edi"), QStringLiteral("claims-march.edi")};
  for (const QString& n : names) {
    TBaseSheetFrm* sheet = form.NewMessageSheet();
    sheet->SetFilename(QStringLiteral("/home/desk/messages/") + n);
    sheet->SetCaption(n);
  }
  form.UpdateCommands();
  QTabBar* bar = form.PageControl()->tabBar();
  // Where a right click low on the second tab puts it, so that the tab stays readable.
  const QRect tab = bar->tabRect(1);
  const QPoint at = bar->mapToGlobal(QPoint(tab.left() + 24, tab.bottom() - 2));
  form.TabPopupMenu()->popup(at);
  QApplication::processEvents();
  QAction* pages = form.TabPopupMenu()->actions().last();
  const QRect r = form.TabPopupMenu()->actionGeometry(pages);
  form.PagesMenu()->popup(form.TabPopupMenu()->mapToGlobal(QPoint(r.right(), r.top())));
  const bool ok =
      SaveComposite(&form, {form.TabPopupMenu(), form.PagesMenu()}, outDir, QStringLiteral("shell-tab-popup"));
  form.PagesMenu()->hide();
  form.TabPopupMenu()->hide();
  return ok;
});

}  // namespace

}  // namespace verimek::ui::shots
