// Every modal box and file dialog of the program goes through one seam, so that tests answer
// them (and read their texts) instead of a user, and no test can wait on a real box.
#pragma once

#include <QString>
#include <QStringList>
#include <functional>

class QDialog;
class QWidget;

namespace verimek::ui {

enum class TMsgDlgType { mtError, mtInformation, mtConfirmation, mtWarning };

// Buttons of a message box, combined with |.
enum TMsgDlgButton : unsigned { mbOK = 1, mbYes = 2, mbNo = 4, mbCancel = 8 };

// The answer of a box or dialog.
enum class TModalResult { mrOk, mrYes, mrNo, mrCancel };

struct TOpenDialogOptions {
  QString Title;
  QString Filter;  // "Caption|pattern|Caption|pattern..."
  bool MultiSelect = false;
};

struct TSaveDialogOptions {
  QString Title;
  QString Filter;
  QString DefaultExt;
  QString FileName;
};

class TDialogs {
 public:
  virtual ~TDialogs() = default;
  virtual TModalResult MessageBox(QWidget* parent, const QString& text, TMsgDlgType type, unsigned buttons) = 0;
  // The chosen files; empty when cancelled.
  virtual QStringList OpenFiles(QWidget* parent, const TOpenDialogOptions& options) = 0;
  // The chosen file; empty when cancelled.
  virtual QString SaveFile(QWidget* parent, const TSaveDialogOptions& options) = 0;
  // Any other modal dialog (about box, search dialog); answers QDialog::Accepted or Rejected.
  virtual int Exec(QDialog& dialog) = 0;
};

// The seam in use: real boxes unless a test has put its own.
TDialogs& Dialogs();
// Replaces the seam (nullptr restores the real boxes); the caller keeps ownership.
void SetDialogs(TDialogs* dialogs);

// The usual boxes.
void ShowError(QWidget* parent, const QString& text);
void ShowInformation(QWidget* parent, const QString& text);

// The "A|b|C|d" filter of the design as a Qt file dialog filter ("A (b);;C (d)").
QString QtFilter(const QString& filter);

}  // namespace verimek::ui
