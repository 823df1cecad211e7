// The dialog seam as tests answer it: every box is recorded with its text, answers come from
// queues, and a question nobody scripted is counted and answered Cancel (or No), never left open.
#pragma once

#include <QDialog>
#include <deque>
#include <functional>
#include <vector>

#include "Dialogs.h"

namespace verimek::ui::test {

class TScriptedDialogs final : public TDialogs {
 public:
  struct TBox {
    QString Text;
    TMsgDlgType Type;
    unsigned Buttons;
  };

  TScriptedDialogs() { SetDialogs(this); }
  ~TScriptedDialogs() override { SetDialogs(nullptr); }
  TScriptedDialogs(const TScriptedDialogs&) = delete;
  TScriptedDialogs& operator=(const TScriptedDialogs&) = delete;

  TModalResult MessageBox(QWidget*, const QString& text, TMsgDlgType type, unsigned buttons) override {
    Boxes.push_back({text, type, buttons});
    if (!Answers.empty()) {
      const TModalResult r = Answers.front();
      Answers.pop_front();
      return r;
    }
    if (buttons == mbOK) return TModalResult::mrOk;
    ++Unanswered;
    return (buttons & mbCancel) ? TModalResult::mrCancel : TModalResult::mrNo;
  }

  QStringList OpenFiles(QWidget*, const TOpenDialogOptions& options) override {
    OpenDialogs.push_back(options);
    if (OpenAnswers.empty()) return {};
    QStringList r = OpenAnswers.front();
    OpenAnswers.pop_front();
    return r;
  }

  QString SaveFile(QWidget*, const TSaveDialogOptions& options) override {
    SaveDialogs.push_back(options);
    if (SaveAnswers.empty()) return {};
    QString r = SaveAnswers.front();
    SaveAnswers.pop_front();
    return r;
  }

  int Exec(QDialog& dialog) override {
    Executed.push_back(dialog.windowTitle());
    if (ExecAnswers.empty()) return QDialog::Rejected;
    auto answer = std::move(ExecAnswers.front());
    ExecAnswers.pop_front();
    return answer(dialog);
  }

  // The texts of the boxes shown so far.
  QStringList Texts() const {
    QStringList out;
    for (const TBox& b : Boxes) out << b.Text;
    return out;
  }

  std::vector<TBox> Boxes;
  std::deque<TModalResult> Answers;
  int Unanswered = 0;
  std::vector<TOpenDialogOptions> OpenDialogs;
  std::deque<QStringList> OpenAnswers;
  std::vector<TSaveDialogOptions> SaveDialogs;
  std::deque<QString> SaveAnswers;
  QStringList Executed;
  // Each answers one Exec: it may fill the dialog's fields, then returns Accepted or Rejected.
  std::deque<std::function<int(QDialog&)>> ExecAnswers;
};

}  // namespace verimek::ui::test
