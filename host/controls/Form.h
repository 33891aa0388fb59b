// TForm is the headless model of a window: caption, bounds, style (a plain window or a child
// window inside the host's main window), window state, visibility, its menu, and above all the
// focus: which control of the form is active and the order in which enter and exit events run
// when the focus moves. A form owns every component created for it (TComponent ownership).
//
// Creation is two-phase. The constructor is cheap and raises nothing; Initialize(), run by
// TApplication::CreateForm, loads the form's description and runs OnCreate. Screens override
// Initialize() (the standard grid screen does, see forms/FrmPadraoGrid.h).
//
// Used on the user-interface thread only. Not copyable, not movable.
#pragma once

#include <cstdint>

#include "host/controls/Control.h"

namespace host {

class TMainMenu;
class TTabSheet;

enum class TFormStyle { fsNormal, fsMDIChild, fsMDIForm, fsStayOnTop };
enum class TWindowState { wsNormal, wsMinimized, wsMaximized };

class TForm : public TControl {
 public:
  explicit TForm(TComponent* owner = nullptr);
  ~TForm() override;

  TFormStyle FormStyle() const { return formStyle_; }
  void SetFormStyle(TFormStyle style);
  TWindowState WindowState() const { return windowState_; }
  void SetWindowState(TWindowState state);

  // The form's main menu; null when none. The menu is owned by the form like any component.
  TMainMenu* Menu() const { return menu_; }
  void SetMenu(TMainMenu* menu);

  // Second phase of creation, run once by TApplication::CreateForm after the constructor. The
  // default runs OnCreate; a screen with a description loads it first. An exception leaves the
  // form unusable: CreateForm destroys it and passes the exception on.
  virtual void Initialize();
  // Runs OnCreate when set. Exceptions propagate.
  void DoCreate();

  // Makes the form visible and brings it to the front: it becomes the screen's active form and
  // observers receive "BringToFront" (even when it was already visible).
  void Show();
  // Hides the form (Visible false). The form stays in existence.
  void Hide();
  // Asks the form to close: runs OnClose with the action caHide unless a handler changes it, then
  // caNone keeps the form open, caHide hides it, caMinimize minimizes it, and caFree hides it and
  // hands it to the application to be destroyed later (TApplication::ProcessReleased). An
  // exception from OnClose propagates and the form stays as it was.
  void Close();

  TNotifyEvent OnCreate;
  TCloseEvent OnClose;

  // The control holding the focus in this form (a grid, a page control, a tab sheet, ...); null
  // when none.
  TControl* ActiveControl() const { return active_; }

  // Moves the focus to `to`, which must belong to this form and be able to take it
  // (CanFocus). In this order:
  //   1. the old active control's OnExit. An exception there keeps the focus where it was and
  //      propagates;
  //   2. for every tab sheet that holds `to` (outermost first) and did not hold the old active
  //      control: the sheet is made its page control's active page if it was not, becomes the
  //      active control, and its OnEnter runs. An exception there leaves the focus on that sheet
  //      and propagates;
  //   3. `to` becomes the active control and its OnEnter runs (an exception propagates; the
  //      focus stays on `to`).
  // A handler that itself moves the focus wins: the remaining steps of this move are dropped.
  // Focusing the active control again does nothing. `to` may be null: the old control's OnExit
  // runs and the form keeps no active control.
  // Raises EPlatformError when `to` belongs to another form or cannot take the focus.
  void FocusControl(TControl* to);
  // Same as FocusControl.
  void SetActiveControl(TControl* to) { FocusControl(to); }

 protected:
  bool TakesFocus() const override { return false; }

 private:
  void MakeActive(TControl* control);

  TFormStyle formStyle_ = TFormStyle::fsNormal;
  TWindowState windowState_ = TWindowState::wsNormal;
  TMainMenu* menu_ = nullptr;
  TControl* active_ = nullptr;
  // Incremented by every focus move, so a move can tell that a handler started another one.
  std::uint64_t focusSerial_ = 0;
};

}  // namespace host
