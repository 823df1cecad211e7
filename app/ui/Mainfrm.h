// The main window: commands, menus, toolbar, page area and status bar.
#pragma once

#include <QMainWindow>

class QAction;
class QLabel;
class QTabWidget;

class TMainForm : public QMainWindow {
  Q_OBJECT

 public:
  explicit TMainForm(QWidget* parent = nullptr);

 private:
  QAction* AddCommand(const QString& caption, const QString& hint, const QKeySequence& shortcut = {});
  void CreateCommands();
  void CreateMenus();
  // Enables the commands from the state of the page area, as the idle pass does.
  void UpdateCommands();
  void ShowAbout();

  QTabWidget* FPages = nullptr;
  QLabel* FCaretPanel = nullptr;
  QLabel* FHintPanel = nullptr;
  QList<QAction*> FSheetCommands;
  QAction* AcFileNew = nullptr;
  QAction* AcFileOpen = nullptr;
  QAction* AcFileSave = nullptr;
  QAction* AcFileSaveAs = nullptr;
  QAction* AcPageClose = nullptr;
  QAction* AcPageCloseAll = nullptr;
  QAction* AcPageCloseAllButThis = nullptr;
  QAction* AcFileExit = nullptr;
  QAction* AcEditCut = nullptr;
  QAction* AcEditCopy = nullptr;
  QAction* AcEditPaste = nullptr;
  QAction* AcEditDelete = nullptr;
  QAction* AcEditUndo = nullptr;
  QAction* AcEditSelectAll = nullptr;
  QAction* AcEditSearch = nullptr;
  QAction* AcEditSearchNext = nullptr;
  QAction* AcEdifactValidate = nullptr;
  QAction* AcEdifactValidateFile = nullptr;
  QAction* AcEdifactIndent = nullptr;
  QAction* AcEdifactUnindent = nullptr;
  QAction* AcEdifactGotoSegment = nullptr;
  QAction* AcHelpTelebib2 = nullptr;
  QAction* AcHelpAbout = nullptr;
};
