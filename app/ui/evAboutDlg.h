// The about box: the program's version and where its components, the SQLite library and the
// referential were found, each with its version or the reason it was not.
#pragma once

#include <QDialog>
#include <string>

#include "evWorkers.h"

class QLabel;
class QTreeWidget;
class QPushButton;

namespace verimek::ui {

class TAboutBox : public QDialog {
  Q_OBJECT

 public:
  TAboutBox(const TComponentFactory& factory, QWidget* parent, std::string programFile = {});
  // Fills the version and the module list once (the box does it when it first shows).
  void Fill();
  QLabel* ProductName() const { return FProductName; }
  QLabel* st_Version() const { return FVersion; }
  QTreeWidget* lv_Modules() const { return FModules; }
  QPushButton* OkButton() const { return FOk; }

 protected:
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  const TComponentFactory& FFactory;
  std::string FProgramFile;
  bool FFilled = false;
  QLabel* FProductName;
  QLabel* FVersion;
  QTreeWidget* FModules;
  QPushButton* FOk;
};

// The program's icon, drawn: the toolkit here reads no vector images.
QIcon ProgramIcon();

}  // namespace verimek::ui
