// CallRunner runs a blocking piece of work (a remote call to the application server) on a worker
// thread while the user-interface thread waits in a local event loop. The busy animation keeps
// turning and the windows keep repainting during the call, while the user can neither type nor
// click into screens whose state the call is about to change.
//
// The wait has two phases:
// - for the first kOfferCancelAfter the loop processes timers and painting but no user input
//   (QEventLoop::ExcludeUserInputEvents): keys typed meanwhile wait in the window system's queue
//   and reach the screen, in order, after the call;
// - from then on the slow-call observer is told (the desktop offers "Cancelar"), and the loop
//   takes user input again through a filter: the widget registered with SetCancelTarget gets its
//   clicks, Escape asks for the cancel, a main window's close reaches it (the main window ends
//   the wait and closes afterwards) while any other window's close is refused, mouse presses
//   elsewhere are dropped, and keys are held and delivered after the call unless the call was
//   cancelled.
// A cancel calls the canceller (TNetConnection::CancelCalls) at once and again every 200 ms until
// the work ends, so the work fails as a broken connection does.
//
// Promises:
// - Run returns only when the work has finished; what the work returned or raised is returned or
//   rethrown on the calling thread, unchanged (the same exception object).
// - Called off the user-interface thread, or with no Qt application, the work simply runs inline.
// - Calls nest: work started while another waits runs the same way.
//
// The work must not touch the models or widgets: it runs on another thread. Code that runs from
// the event loop while a call waits (timers, deferred slots) can ask Waiting() and postpone any
// work on the models.
//
// Thread rules: every member is called on the user-interface thread. Not instantiable.
#pragma once

#include <chrono>
#include <functional>

class QObject;

namespace desktop {

class CallRunner {
 public:
  CallRunner() = delete;

  // How long a call waits before the cancel is offered.
  static constexpr std::chrono::milliseconds kOfferCancelAfter{2000};

  // Runs `work` as described above. REQUIRES: work is thread-safe with respect to everything the
  // user-interface thread may do meanwhile (timers, painting).
  static void Run(const std::function<void()>& work);
  // Runs `work` as Run does; a cancel also calls `cancel` (thread-safe; it must make `work` end
  // soon), besides the canceller of SetCanceller. For work that is not a remote call of a
  // TNetConnection (the local database's download).
  static void Run(const std::function<void()>& work, const std::function<void()>& cancel);
  // Runs `work` as Run does, but never offers the cancel: for work that cannot be ended part way
  // (loading rows into a record set). User input waits for the whole call.
  static void RunToEnd(const std::function<void()>& work);
  // True while the user-interface thread waits for a call.
  static bool Waiting();
  // Number of calls run off the user-interface thread since start (for tests).
  static int CallsRun();

  // What ends the work under way (thread-safe; called on the user-interface thread). Empty: a
  // cancel only stops holding the keys.
  static void SetCanceller(std::function<void()> canceller);
  // Told with true when a wait has lasted kOfferCancelAfter, with false when that wait ends.
  static void SetSlowCallObserver(std::function<void(bool slow)> observer);
  // The object (a button, with its children) that takes the user's clicks while a slow call
  // waits; null for none. Not owned.
  static void SetCancelTarget(QObject* target);
  // Asks to end the call under way (see the class comment). A no-op when no call waits.
  static void Cancel();
  // True while a slow call waits and the cancel is offered.
  static bool CancelOffered();
};

}  // namespace desktop
