// The small progress overlay shared by the whole program: one instance, created at its first
// use as a window of its own, shown centred over the main window.
#pragma once

#include <QWidget>

class QLabel;
class QProgressBar;

namespace verimek::ui {

enum class TProgressBarStyle { pbstNormal, pbstMarquee };

class TProgressFrm : public QWidget {
  Q_OBJECT

 public:
  TProgressFrm();
  QLabel* StatusLine() const { return FStatus; }
  QProgressBar* ProgressBar() const { return FBar; }

 private:
  QWidget* pn_ValidationInProgress;
  QLabel* FStatus;
  QProgressBar* FBar;
};

// Sets the status line (unless text is empty), the bar at 0 with its bounds and style, and
// shows the box centred over centreOver's window (the active window when null).
void ShowProgress(QWidget* centreOver, TProgressBarStyle style, const QString& text, int max, int min);
void HideProgress();
// The instance; nullptr before the first ShowProgress.
TProgressFrm* ProgressFrm();
// Frees the instance (tests, end of the program).
void FreeProgressFrm();

}  // namespace verimek::ui
