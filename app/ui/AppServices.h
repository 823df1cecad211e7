// What a sheet asks of the program around it: the main window's commands and dialogs, the
// referential names, the command-line switches, the worker host. The main window implements
// it; tests give a sheet a stand-in.
#pragma once

#include <QString>

class QAction;
class QWidget;

namespace verimek {
class TTelebibDataModule;
class TWorkerHost;
struct TComponentFactory;
}  // namespace verimek

namespace verimek::ui {

class TAppServices {
 public:
  virtual ~TAppServices() = default;

  // A main window command by its name ("AcEdifactGotoSegment", "AcFileSaveAs", ...), for the
  // sheets' pop-up menus; nullptr when there is no such command.
  virtual QAction* Command(const QString& name) = 0;
  // The window the sheets' boxes and the progress overlay belong to.
  virtual QWidget* MainWindow() = 0;
  // The main window's open dialog ("Open...", "All files|*.*"); the chosen files, or empty.
  virtual QStringList ExecuteOpenDialog() = 0;
  // The main window's save dialog ("Save...", "txt", text/edifact/all filters); the chosen name or empty.
  virtual QString ExecuteSaveDialog(const QString& fileName) = 0;

  // The referential names; nullptr while they are not available (not connected, or the
  // referential is not a file), in which case callers show the raw codes.
  virtual TTelebibDataModule* Telebib() = 0;
  // Why the names are not available, for a notice; empty when they are.
  virtual QString TelebibUnavailableReason() = 0;

  // The command line held the switch "keepdb".
  virtual bool KeepDb() = 0;

  // Runs the workers' jobs on threads and their steps on the user-interface thread.
  virtual TWorkerHost& WorkerHost() = 0;
  // How workers create their engine document and parser message.
  virtual const TComponentFactory& ComponentFactory() = 0;

  // Opens a new message sheet holding text (not tied to a file), and activates it.
  virtual void OpenMessageText(const QString& caption, const QString& text) = 0;
};

}  // namespace verimek::ui
