// TScreen is the process-wide state of the display as the screens see it: the mouse cursor shown
// over the application (crDefault, crHourGlass while a screen is busy being created), the active
// form (the one most recently shown) and, through it, the active control. Screen() returns the
// one instance; it is never destroyed.
//
// Observers receive "Cursor" and "ActiveForm". Used on the user-interface thread only.
// Not copyable, not movable.
#pragma once

#include "host/controls/Observable.h"

namespace host {

class TControl;
class TForm;

class TScreen : public Observable {
 public:
  TScreen() = default;

  // Cursor code: crDefault (0), crHourGlass (-11), or any other platform cursor code.
  int Cursor() const { return cursor_; }
  void SetCursor(int cursor);

  // The form most recently shown or activated; null when none.
  TForm* ActiveForm() const { return activeForm_; }
  void SetActiveForm(TForm* form);
  // The active form's active control; null when there is no active form or it has none.
  TControl* ActiveControl() const;

  // Called by a form's destructor. Not for general use.
  void FormDestroyed(TForm* form);

 private:
  int cursor_ = 0;
  TForm* activeForm_ = nullptr;
};

// The process-wide screen object.
TScreen& Screen();

}  // namespace host
