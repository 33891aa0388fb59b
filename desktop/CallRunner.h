// CallRunner runs a blocking piece of work (a remote call to the application server) on a worker
// thread while the user-interface thread waits in a local event loop that processes timers and
// painting but no user input (QEventLoop::ExcludeUserInputEvents). The busy animation keeps
// turning and the windows keep repainting during the call, while the user can neither type nor
// click into screens whose state the call is about to change.
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
// Thread rules: Run is called on the user-interface thread. Not instantiable.
#pragma once

#include <functional>

namespace desktop {

class CallRunner {
 public:
  CallRunner() = delete;

  // Runs `work` as described above. REQUIRES: work is thread-safe with respect to everything the
  // user-interface thread may do meanwhile (timers, painting).
  static void Run(const std::function<void()>& work);
  // True while the user-interface thread waits for a call.
  static bool Waiting();
  // Number of calls run off the user-interface thread since start (for tests).
  static int CallsRun();
};

}  // namespace desktop
