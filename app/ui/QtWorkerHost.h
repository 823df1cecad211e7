// Binds the workers to the Qt event loop: each job on a thread of its own, each step queued to
// the user-interface thread while the worker waits for it.
#pragma once

#include <QObject>
#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "evWorkers.h"

namespace verimek::ui {

class TQtWorkerHost final : public QObject, public TWorkerHost {
  Q_OBJECT

 public:
  TQtWorkerHost();
  // Runs the event loop until every job has ended, so that their last steps still run.
  ~TQtWorkerHost() override;

  void StartThread(std::function<void()> job) override;
  void RunOnUiThread(const std::function<void()>& step) override;

  int Running() const { return FRunning.load(); }

 private:
  void JoinEnded();

  std::atomic<int> FRunning{0};
  std::mutex FLock;
  std::vector<std::thread> FThreads;
  std::vector<std::thread::id> FEnded;
};

}  // namespace verimek::ui
