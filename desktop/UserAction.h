// UserAction runs one user action (a key, a click, a menu choice) against the headless models and
// applies the host's failure policy to whatever it raises:
//   - host::EAbort, the silent abort, is swallowed: the model already said what it had to say;
//   - a remote failure that the result check has just reported through the host services
//     (QtHostServices::ReportResultError) is not shown a second time;
//   - any other exception is shown in the error dialog of the installed host services (or a
//     plain message box when none is installed).
// After the outermost action ends, forms that closed themselves with caFree are destroyed
// (TApplication::ProcessReleased), never while one of their handlers may still be running.
//
// Used on the user-interface thread only. Not instantiable: static members only.
#pragma once

#include <functional>

namespace desktop {

class UserAction {
 public:
  UserAction() = delete;

  // Runs `action` under the failure policy. Returns true when it ended normally, false when it
  // raised (whatever was raised has then been handled as above). Never throws.
  static bool Run(const std::function<void()>& action);

  // True while an action is running (nested actions included).
  static bool Running();

  // Called after each outermost action has ended and released forms were destroyed (the main
  // window puts the keyboard focus back where the models have it). Empty: nothing is called.
  static void SetAfterAction(std::function<void()> after);
};

}  // namespace desktop
