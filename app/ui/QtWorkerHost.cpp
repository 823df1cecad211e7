#include "QtWorkerHost.h"

#include <QCoreApplication>
#include <QThread>
#include <algorithm>
#include <condition_variable>
#include <exception>

#include "edicom/EdiCom.h"

namespace verimek::ui {

TQtWorkerHost::TQtWorkerHost() = default;

TQtWorkerHost::~TQtWorkerHost() {
  while (FRunning.load() > 0) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  std::lock_guard<std::mutex> lock(FLock);
  for (std::thread& t : FThreads)
    if (t.joinable()) t.join();
}

void TQtWorkerHost::JoinEnded() {
  std::vector<std::thread> done;
  {
    std::lock_guard<std::mutex> lock(FLock);
    for (auto it = FThreads.begin(); it != FThreads.end();) {
      if (std::find(FEnded.begin(), FEnded.end(), it->get_id()) != FEnded.end()) {
        FEnded.erase(std::find(FEnded.begin(), FEnded.end(), it->get_id()));
        done.push_back(std::move(*it));
        it = FThreads.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (std::thread& t : done) t.join();
}

void TQtWorkerHost::StartThread(std::function<void()> job) {
  JoinEnded();
  FRunning.fetch_add(1);
  std::lock_guard<std::mutex> lock(FLock);
  FThreads.emplace_back([this, job = std::move(job)] {
    CoInitialize(nullptr);
    job();
    CoUninitialize();
    {
      std::lock_guard<std::mutex> l(FLock);
      FEnded.push_back(std::this_thread::get_id());
    }
    FRunning.fetch_sub(1);
  });
}

void TQtWorkerHost::RunOnUiThread(const std::function<void()>& step) {
  if (QThread::currentThread() == thread()) {
    step();
    return;
  }
  std::mutex m;
  std::condition_variable cv;
  bool done = false;
  std::exception_ptr error;
  QMetaObject::invokeMethod(
      this,
      [&] {
        try {
          step();
        } catch (...) {
          error = std::current_exception();
        }
        std::lock_guard<std::mutex> l(m);
        done = true;
        cv.notify_one();
      },
      Qt::QueuedConnection);
  std::unique_lock<std::mutex> l(m);
  cv.wait(l, [&] { return done; });
  if (error) std::rethrow_exception(error);
}

}  // namespace verimek::ui
