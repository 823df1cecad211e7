// A stand-in for the main window around a sheet under test: commands made on demand, the
// dialogs through the seam, real workers on threads bound to the event loop.
#pragma once

#include <QAction>
#include <QFontMetrics>
#include <QHeaderView>
#include <QMainWindow>
#include <QMap>
#include <QStyle>
#include <QTabWidget>
#include <QTreeWidget>
#include <algorithm>
#include <memory>

#include "AppServices.h"
#include "BaseSheet.h"
#include "Dialogs.h"
#include "QtWorkerHost.h"
#include "evWorkers.h"

namespace verimek::ui::test {

// Empty when column of list is at least `least` pixels and as wide as its header text needs;
// otherwise what is missing, for the failure message.
inline QString HeaderCut(QTreeWidget* list, int column, int least) {
  const QString header = list->headerItem()->text(column);
  const int margin = 2 * list->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, list->header());
  const int needed = std::max(least, QFontMetrics(list->header()->font()).horizontalAdvance(header) + margin);
  if (list->columnWidth(column) >= needed) return {};
  return QStringLiteral("%1: %2 < %3").arg(header).arg(list->columnWidth(column)).arg(needed);
}

class TTestApp final : public TAppServices {
 public:
  TTestApp() : FFactory(TComponentFactory::ByClassId()), FPages(new QTabWidget(&FWindow)) {
    FWindow.resize(1000, 700);
    FWindow.setCentralWidget(FPages);
  }

  // A page with a sheet made by makeSheet, shown and active.
  template <class F>
  auto* AddSheet(F makeSheet) {
    auto* tab = new TTabSheetEx(FPages);
    FPages->addTab(tab, QString());
    using TSheet = std::remove_pointer_t<decltype(makeSheet(tab))>;
    TSheet* sheet = nullptr;
    tab->SetFormClass([&](TTabSheetEx* owner) -> TBaseSheetFrm* {
      sheet = makeSheet(owner);
      return sheet;
    });
    FPages->setCurrentWidget(tab);
    return sheet;
  }

  QAction* Command(const QString& name) override {
    auto it = FCommands.find(name);
    if (it != FCommands.end()) return *it;
    auto* a = new QAction(name, &FWindow);
    a->setObjectName(name);
    FCommands.insert(name, a);
    return a;
  }
  QWidget* MainWindow() override { return &FWindow; }
  QStringList ExecuteOpenDialog() override {
    return Dialogs().OpenFiles(&FWindow, {QStringLiteral("Open..."), QStringLiteral("All files|*.*"), true});
  }
  QString ExecuteSaveDialog(const QString& fileName) override {
    return Dialogs().SaveFile(
        &FWindow, {QStringLiteral("Save..."), QStringLiteral("Text files|*.txt|Edifact files|*.edi|All files|*.*"),
                   QStringLiteral("txt"), fileName});
  }
  TTelebibDataModule* Telebib() override { return Names; }
  QString TelebibUnavailableReason() override { return Names ? QString() : UnavailableReason; }
  bool KeepDb() override { return KeepDbSwitch; }
  TWorkerHost& WorkerHost() override { return FHost; }
  const TComponentFactory& ComponentFactory() override { return FFactory; }
  void OpenMessageText(const QString& caption, const QString& text) override { Opened.push_back({caption, text}); }

  QMainWindow& Window() { return FWindow; }
  QTabWidget* Pages() { return FPages; }
  TQtWorkerHost& Host() { return FHost; }

  TTelebibDataModule* Names = nullptr;
  QString UnavailableReason = QStringLiteral("no referential names");
  bool KeepDbSwitch = false;
  std::vector<std::pair<QString, QString>> Opened;

 private:
  TComponentFactory FFactory;
  QMainWindow FWindow;
  QTabWidget* FPages;
  QMap<QString, QAction*> FCommands;
  // Destroyed first: its destructor lets running jobs end while their sheets still exist.
  TQtWorkerHost FHost;
};

}  // namespace verimek::ui::test
