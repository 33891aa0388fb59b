#include "desktop/CallRunner.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QMetaObject>
#include <QThread>
#include <exception>
#include <thread>

namespace desktop {

namespace {
int waiting = 0;
int callsRun = 0;
}  // namespace

void CallRunner::Run(const std::function<void()>& work) {
  QCoreApplication* app = QCoreApplication::instance();
  if (!app || QThread::currentThread() != app->thread()) {
    work();
    return;
  }
  QEventLoop loop;
  std::exception_ptr failure;
  ++callsRun;
  std::thread worker([&] {
    try {
      work();
    } catch (...) {
      failure = std::current_exception();
    }
    // Queued: the quit runs inside loop.exec(), even when the work ended before exec began.
    QMetaObject::invokeMethod(&loop, "quit", Qt::QueuedConnection);
  });
  ++waiting;
  loop.exec(QEventLoop::ExcludeUserInputEvents);
  --waiting;
  worker.join();
  if (failure) std::rethrow_exception(failure);
}

bool CallRunner::Waiting() { return waiting > 0; }

int CallRunner::CallsRun() { return callsRun; }

}  // namespace desktop
