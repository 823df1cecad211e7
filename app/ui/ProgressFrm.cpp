#include "ProgressFrm.h"

#include <QApplication>
#include <QLabel>
#include <QProgressBar>
#include <QVBoxLayout>

namespace verimek::ui {

namespace {
TProgressFrm* gProgressFrm = nullptr;
}

TProgressFrm::TProgressFrm() : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
  setObjectName(QStringLiteral("ProgressFrm"));
  auto* outer = new QVBoxLayout(this);
  outer->setContentsMargins(0, 0, 0, 0);
  pn_ValidationInProgress = new QWidget(this);
  pn_ValidationInProgress->setObjectName(QStringLiteral("pn_ValidationInProgress"));
  pn_ValidationInProgress->setAutoFillBackground(true);
  setStyleSheet(QStringLiteral("#pn_ValidationInProgress { border: 1px solid palette(mid); }"));
  outer->addWidget(pn_ValidationInProgress);
  auto* layout = new QVBoxLayout(pn_ValidationInProgress);
  layout->setContentsMargins(16, 12, 16, 12);
  FStatus = new QLabel(QStringLiteral("Validation in progress..."), pn_ValidationInProgress);
  FStatus->setAlignment(Qt::AlignCenter);
  FBar = new QProgressBar(pn_ValidationInProgress);
  FBar->setTextVisible(false);
  layout->addWidget(FStatus);
  layout->addWidget(FBar);
  resize(320, 72);
}

void ShowProgress(QWidget* centreOver, TProgressBarStyle style, const QString& text, int max, int min) {
  if (!gProgressFrm) gProgressFrm = new TProgressFrm;
  TProgressFrm& f = *gProgressFrm;
  if (!text.isEmpty()) f.StatusLine()->setText(text);
  // A bar whose bounds are both 0 runs without end: the marquee style.
  if (style == TProgressBarStyle::pbstMarquee)
    f.ProgressBar()->setRange(0, 0);
  else
    f.ProgressBar()->setRange(min, max);
  f.ProgressBar()->setValue(0);
  QWidget* over = centreOver ? centreOver->window() : QApplication::activeWindow();
  if (over) {
    const QRect g = over->frameGeometry();
    f.move(g.center() - QPoint(f.width() / 2, f.height() / 2));
  }
  f.show();
  f.raise();
}

void HideProgress() {
  if (gProgressFrm) gProgressFrm->hide();
}

TProgressFrm* ProgressFrm() { return gProgressFrm; }

void FreeProgressFrm() {
  delete gProgressFrm;
  gProgressFrm = nullptr;
}

}  // namespace verimek::ui
