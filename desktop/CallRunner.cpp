#include "desktop/CallRunner.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QEventLoop>
#include <QKeyEvent>
#include <QMainWindow>
#include <QMetaObject>
#include <QPointer>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <exception>
#include <memory>
#include <thread>
#include <utility>
#include <vector>

namespace desktop {

namespace {

int waiting = 0;
int callsRun = 0;
int slowWaits = 0;
bool cancelRequested = false;
std::function<void()> canceller;
// The cancels of the works waiting now, innermost last (see Run's second argument).
std::vector<std::function<void()>> workCancels;
std::function<void(bool)> slowObserver;
QPointer<QObject> cancelTarget;

constexpr int kCancelRepeatMs = 200;

bool IsWithin(QObject* object, QObject* ancestor) {
  for (QObject* o = object; o; o = o->parent())
    if (o == ancestor) return true;
  return false;
}

// Filters the user's input while a slow call waits (see the class comment).
class InputHold : public QObject {
 public:
  InputHold() { QCoreApplication::instance()->installEventFilter(this); }
  ~InputHold() override { QCoreApplication::instance()->removeEventFilter(this); }

  // Delivers the held keys, in order, to the widgets that were to receive them.
  void Release() {
    for (auto& [receiver, event] : held_) {
      if (receiver) QCoreApplication::postEvent(receiver, event.release());
    }
    held_.clear();
  }
  void Drop() { held_.clear(); }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    // Windows hand their input on to their widgets, which are judged one by one.
    if (!watched->isWidgetType()) return false;
    switch (event->type()) {
      case QEvent::KeyPress:
      case QEvent::KeyRelease: {
        auto* key = static_cast<QKeyEvent*>(event);
        if (event->type() == QEvent::KeyPress && key->key() == Qt::Key_Escape) {
          CallRunner::Cancel();
          return true;
        }
        if (cancelTarget && IsWithin(watched, cancelTarget)) return false;
        if (!cancelRequested) held_.emplace_back(watched, std::unique_ptr<QEvent>(event->clone()));
        return true;
      }
      case QEvent::ShortcutOverride:
      case QEvent::Shortcut:
        return !(cancelTarget && IsWithin(watched, cancelTarget));
      case QEvent::MouseButtonPress:
      case QEvent::MouseButtonRelease:
      case QEvent::MouseButtonDblClick:
      case QEvent::Wheel:
      case QEvent::ContextMenu:
      case QEvent::TouchBegin:
      case QEvent::TouchUpdate:
      case QEvent::TouchEnd:
      case QEvent::TabletPress:
      case QEvent::TabletRelease:
      case QEvent::Drop:
        return !(cancelTarget && IsWithin(watched, cancelTarget));
      case QEvent::Close:
        // The main window decides (it ends the wait and closes afterwards); any other window's
        // close would pull the models out from under the call.
        if (qobject_cast<QMainWindow*>(watched)) return false;
        event->ignore();
        return true;
      default:
        return false;
    }
  }

 private:
  std::vector<std::pair<QPointer<QObject>, std::unique_ptr<QEvent>>> held_;
};

// Runs work on a worker thread while this thread waits (see the class comment); the cancel is
// offered after kOfferCancelAfter only when offerCancel.
void RunOnWorker(const std::function<void()>& work, bool offerCancel, const std::function<void()>& cancelWork) {
  QCoreApplication* app = QCoreApplication::instance();
  if (!app || QThread::currentThread() != app->thread()) {
    work();
    return;
  }
  QEventLoop loop;
  std::exception_ptr failure;
  std::atomic<bool> done{false};
  ++callsRun;
  std::thread worker([&] {
    try {
      work();
    } catch (...) {
      failure = std::current_exception();
    }
    done = true;
    // Queued: the quit runs inside loop.exec(), even when the work ended before exec began.
    QMetaObject::invokeMethod(&loop, "quit", Qt::QueuedConnection);
  });
  ++waiting;
  struct CancelEntry {
    explicit CancelEntry(const std::function<void()>& cancel) : pushed(static_cast<bool>(cancel)) {
      if (pushed) workCancels.push_back(cancel);
    }
    ~CancelEntry() {
      if (pushed) workCancels.pop_back();
    }
    bool pushed;
  } entry(cancelWork);
  bool slow = false;
  QTimer offer;
  offer.setSingleShot(true);
  QObject::connect(&offer, &QTimer::timeout, &loop, [&] {
    slow = true;
    loop.quit();
  });
  if (offerCancel) offer.start(CallRunner::kOfferCancelAfter);
  loop.exec(QEventLoop::ExcludeUserInputEvents);
  offer.stop();
  if (!done && slow) {
    InputHold hold;
    QTimer repeat;
    QObject::connect(&repeat, &QTimer::timeout, &loop, [] {
      if (!cancelRequested) return;
      if (canceller) canceller();
      for (const auto& cancel : workCancels) cancel();
    });
    repeat.start(kCancelRepeatMs);
    if (slowWaits++ == 0 && slowObserver) slowObserver(true);
    while (!done) loop.exec();
    if (--slowWaits == 0 && slowObserver) slowObserver(false);
    if (cancelRequested) {
      hold.Drop();
    } else {
      hold.Release();
    }
  }
  while (!done) loop.exec(QEventLoop::ExcludeUserInputEvents);
  --waiting;
  if (waiting == 0) cancelRequested = false;
  worker.join();
  if (failure) std::rethrow_exception(failure);
}

}  // namespace

void CallRunner::Run(const std::function<void()>& work) { RunOnWorker(work, true, {}); }

void CallRunner::Run(const std::function<void()>& work, const std::function<void()>& cancel) {
  RunOnWorker(work, true, cancel);
}

void CallRunner::RunToEnd(const std::function<void()>& work) { RunOnWorker(work, false, {}); }

bool CallRunner::Waiting() { return waiting > 0; }

int CallRunner::CallsRun() { return callsRun; }

void CallRunner::SetCanceller(std::function<void()> cancel) { canceller = std::move(cancel); }

void CallRunner::SetSlowCallObserver(std::function<void(bool)> observer) {
  slowObserver = std::move(observer);
}

void CallRunner::SetCancelTarget(QObject* target) { cancelTarget = target; }

void CallRunner::Cancel() {
  if (waiting == 0) return;
  cancelRequested = true;
  if (canceller) canceller();
  for (const auto& cancel : workCancels) cancel();
}

bool CallRunner::CancelOffered() { return slowWaits > 0; }

}  // namespace desktop
