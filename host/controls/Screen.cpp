#include "host/controls/Screen.h"

#include "host/controls/Form.h"

namespace host {

TScreen& Screen() {
  static TScreen* instance = new TScreen();
  return *instance;
}

void TScreen::SetCursor(int cursor) {
  if (cursor_ == cursor) return;
  cursor_ = cursor;
  Notify("Cursor");
}

void TScreen::SetActiveForm(TForm* form) {
  if (activeForm_ == form) return;
  activeForm_ = form;
  Notify("ActiveForm");
}

TControl* TScreen::ActiveControl() const {
  return activeForm_ != nullptr ? activeForm_->ActiveControl() : nullptr;
}

void TScreen::FormDestroyed(TForm* form) {
  if (activeForm_ == form) SetActiveForm(nullptr);
}

}  // namespace host
