#include "host/controls/Form.h"

#include <vector>

#include "host/controls/Application.h"
#include "host/controls/PageControl.h"
#include "host/controls/Screen.h"
#include "host/controls/TabSheet.h"

namespace host {

TForm::TForm(TComponent* owner) : TControl({}, owner) { SetVisible(false); }

TForm::~TForm() {
  active_ = nullptr;
  menu_ = nullptr;
  Screen().FormDestroyed(this);
  Application().FormDestroyed(this);
}

void TForm::SetFormStyle(TFormStyle style) {
  if (formStyle_ == style) return;
  formStyle_ = style;
  Changed("FormStyle");
}

void TForm::SetWindowState(TWindowState state) {
  if (windowState_ == state) return;
  windowState_ = state;
  Changed("WindowState");
}

void TForm::SetMenu(TMainMenu* menu) {
  if (menu_ == menu) return;
  menu_ = menu;
  Changed("Menu");
}

void TForm::Initialize() { DoCreate(); }

void TForm::DoCreate() {
  if (OnCreate) OnCreate(this);
}

void TForm::Show() {
  SetVisible(true);
  Screen().SetActiveForm(this);
  Changed("BringToFront");
}

void TForm::Hide() { SetVisible(false); }

void TForm::Close() {
  TCloseAction action = TCloseAction::caHide;
  if (OnClose) OnClose(this, action);
  switch (action) {
    case TCloseAction::caNone:
      return;
    case TCloseAction::caHide:
      Hide();
      return;
    case TCloseAction::caMinimize:
      SetWindowState(TWindowState::wsMinimized);
      return;
    case TCloseAction::caFree:
      Hide();
      Application().Release(this);
      return;
  }
}

void TForm::MakeActive(TControl* control) {
  active_ = control;
  Changed("ActiveControl");
}

void TForm::FocusControl(TControl* to) {
  if (to != nullptr) {
    if (to->Form() != this) {
      throw EPlatformError("Control '" + to->Name() + "' does not belong to form '" + Name() + "'");
    }
    if (!to->CanFocus()) {
      throw EPlatformError("Cannot focus a disabled or invisible control ('" + to->Name() + "')");
    }
  }
  if (to == active_) return;

  const std::uint64_t serial = ++focusSerial_;
  TControl* old = active_;
  if (old != nullptr) {
    old->DoExit();
    if (focusSerial_ != serial) return;
  }
  if (to == nullptr) {
    MakeActive(nullptr);
    return;
  }

  // Sheets holding the new control, outermost first; the control itself is entered last.
  std::vector<TTabSheet*> sheets;
  for (TControl* c = to->Parent(); c != nullptr; c = c->Parent()) {
    if (auto* sheet = dynamic_cast<TTabSheet*>(c)) sheets.insert(sheets.begin(), sheet);
  }
  for (TTabSheet* sheet : sheets) {
    if (old != nullptr && sheet->ContainsControl(old)) continue;
    if (TPageControl* pages = sheet->PageControl(); pages != nullptr && pages->ActivePage() != sheet) {
      pages->SetActivePage(sheet);
    }
    MakeActive(sheet);
    sheet->DoEnter();
    if (focusSerial_ != serial) return;
  }
  if (auto* sheet = dynamic_cast<TTabSheet*>(to)) {
    if (TPageControl* pages = sheet->PageControl(); pages != nullptr && pages->ActivePage() != sheet) {
      pages->SetActivePage(sheet);
    }
  }
  MakeActive(to);
  to->DoEnter();
}

}  // namespace host
