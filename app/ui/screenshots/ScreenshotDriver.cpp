// verimek-screenshots OUTDIR [NAME...]: runs the registered states (all, or those named) and
// writes one PNG per state into OUTDIR. Exit status 1 when a state failed.
#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QPixmap>
#include <QThread>
#include <QWidget>
#include <cstdio>

#include "ScreenshotRegistry.h"

namespace verimek::ui::shots {

std::vector<TState>& States() {
  static std::vector<TState> states;
  return states;
}

bool WaitFor(const std::function<bool()>& pred, int timeoutMs) {
  QDeadlineTimer deadline(timeoutMs);
  while (!pred()) {
    if (deadline.hasExpired()) return false;
    QApplication::processEvents(QEventLoop::AllEvents, 20);
    QThread::msleep(5);
  }
  return true;
}

bool SaveWindow(QWidget* window, const QString& outDir, const QString& name) {
  for (int i = 0; i < 5; ++i) QApplication::processEvents();
  const QString path = QDir(outDir).filePath(name + QStringLiteral(".png"));
  const bool ok = window->grab().save(path, "PNG");
  std::fprintf(ok ? stdout : stderr, "%s %s\n", ok ? "wrote" : "cannot write", qPrintable(path));
  return ok;
}

}  // namespace verimek::ui::shots

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  const QStringList args = QApplication::arguments().mid(1);
  if (args.isEmpty()) {
    std::fprintf(stderr, "usage: verimek-screenshots OUTDIR [NAME...]\n");
    for (const auto& s : verimek::ui::shots::States()) std::fprintf(stderr, "  %s\n", qPrintable(s.Name));
    return 2;
  }
  const QString& outDir = args.front();
  if (!QDir().mkpath(outDir)) {
    std::fprintf(stderr, "cannot create %s\n", qPrintable(outDir));
    return 1;
  }
  const QStringList wanted = args.mid(1);
  int failed = 0;
  for (const auto& s : verimek::ui::shots::States()) {
    if (!wanted.isEmpty() && !wanted.contains(s.Name)) continue;
    if (!s.Run(outDir)) {
      std::fprintf(stderr, "state %s failed\n", qPrintable(s.Name));
      ++failed;
    }
  }
  return failed ? 1 : 0;
}
