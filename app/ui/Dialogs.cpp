#include "Dialogs.h"

#include <QDialog>
#include <QFileDialog>
#include <QMessageBox>

namespace verimek::ui {

namespace {

class TRealDialogs final : public TDialogs {
 public:
  TModalResult MessageBox(QWidget* parent, const QString& text, TMsgDlgType type, unsigned buttons) override {
    QMessageBox box(parent);
    box.setWindowTitle(QStringLiteral("Verimek"));
    box.setText(text);
    switch (type) {
      case TMsgDlgType::mtError:
        box.setIcon(QMessageBox::Critical);
        break;
      case TMsgDlgType::mtInformation:
        box.setIcon(QMessageBox::Information);
        break;
      case TMsgDlgType::mtConfirmation:
        box.setIcon(QMessageBox::Question);
        break;
      case TMsgDlgType::mtWarning:
        box.setIcon(QMessageBox::Warning);
        break;
    }
    QMessageBox::StandardButtons qb;
    if (buttons & mbOK) qb |= QMessageBox::Ok;
    if (buttons & mbYes) qb |= QMessageBox::Yes;
    if (buttons & mbNo) qb |= QMessageBox::No;
    if (buttons & mbCancel) qb |= QMessageBox::Cancel;
    box.setStandardButtons(qb ? qb : QMessageBox::Ok);
    switch (box.exec()) {
      case QMessageBox::Yes:
        return TModalResult::mrYes;
      case QMessageBox::No:
        return TModalResult::mrNo;
      case QMessageBox::Ok:
        return TModalResult::mrOk;
      default:
        return TModalResult::mrCancel;
    }
  }

  QStringList OpenFiles(QWidget* parent, const TOpenDialogOptions& options) override {
    QFileDialog dialog(parent, options.Title, QString(), QtFilter(options.Filter));
    dialog.setFileMode(options.MultiSelect ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    if (dialog.exec() != QDialog::Accepted) return {};
    return dialog.selectedFiles();
  }

  QString SaveFile(QWidget* parent, const TSaveDialogOptions& options) override {
    QFileDialog dialog(parent, options.Title, options.FileName, QtFilter(options.Filter));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(options.DefaultExt);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    return dialog.selectedFiles().front();
  }

  int Exec(QDialog& dialog) override { return dialog.exec(); }
};

TRealDialogs gRealDialogs;
TDialogs* gDialogs = nullptr;

}  // namespace

TDialogs& Dialogs() { return gDialogs ? *gDialogs : gRealDialogs; }

void SetDialogs(TDialogs* dialogs) { gDialogs = dialogs; }

void ShowError(QWidget* parent, const QString& text) { Dialogs().MessageBox(parent, text, TMsgDlgType::mtError, mbOK); }

void ShowInformation(QWidget* parent, const QString& text) {
  Dialogs().MessageBox(parent, text, TMsgDlgType::mtInformation, mbOK);
}

QString QtFilter(const QString& filter) {
  const QStringList parts = filter.split(QLatin1Char('|'));
  QStringList out;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2)
    out << parts[i] + QStringLiteral(" (") + QString(parts[i + 1]).replace(QLatin1Char(';'), QLatin1Char(' ')) +
               QLatin1Char(')');
  return out.join(QStringLiteral(";;"));
}

}  // namespace verimek::ui
