#include "host/controls/Control.h"

#include <algorithm>

#include "host/controls/Form.h"

namespace host {

TControl::TControl(std::string name, TComponent* owner) : TComponent(std::move(name), owner) {}

TControl::~TControl() {
  // Children outlive nothing of ours: forget them so they do not point back at freed memory.
  for (TControl* child : children_) child->parent_ = nullptr;
  children_.clear();
  if (parent_ != nullptr) {
    auto& siblings = parent_->children_;
    siblings.erase(std::remove(siblings.begin(), siblings.end(), this), siblings.end());
    parent_ = nullptr;
  }
}

void TControl::SetParent(TControl* parent) {
  if (parent == parent_) return;
  for (const TControl* p = parent; p != nullptr; p = p->parent_) {
    if (p == this) {
      throw EPlatformError("Control '" + Name() + "' cannot be placed on itself or on one of its own controls");
    }
  }
  if (parent_ != nullptr) {
    TControl* old = parent_;
    auto& siblings = old->children_;
    siblings.erase(std::remove(siblings.begin(), siblings.end(), this), siblings.end());
    parent_ = nullptr;
    old->ChildRemoved(this);
    old->Notify("Controls");
  }
  parent_ = parent;
  if (parent_ != nullptr) {
    parent_->children_.push_back(this);
    parent_->ChildAdded(this);
    parent_->Notify("Controls");
  }
  Notify("Parent");
}

template <class T>
void TControl::SetAndNotify(T& member, T value, const char* property) {
  if (member == value) return;
  member = std::move(value);
  Notify(property);
}

void TControl::SetVisible(bool visible) { SetAndNotify(visible_, visible, "Visible"); }
void TControl::SetEnabled(bool enabled) { SetAndNotify(enabled_, enabled, "Enabled"); }
void TControl::SetLeft(int left) { SetAndNotify(left_, left, "Left"); }
void TControl::SetTop(int top) { SetAndNotify(top_, top, "Top"); }
void TControl::SetWidth(int width) { SetAndNotify(width_, width, "Width"); }
void TControl::SetHeight(int height) { SetAndNotify(height_, height, "Height"); }
void TControl::SetAlign(TAlign align) { SetAndNotify(align_, align, "Align"); }
void TControl::SetCaption(std::string caption) { SetAndNotify(caption_, std::move(caption), "Caption"); }
void TControl::SetHint(std::string hint) { SetAndNotify(hint_, std::move(hint), "Hint"); }
void TControl::SetColor(std::string color) { SetAndNotify(color_, std::move(color), "Color"); }

bool TControl::CanFocus() const {
  if (!TakesFocus()) return false;
  for (const TControl* c = this; c != nullptr; c = c->parent_) {
    if (!c->enabled_) return false;
    // A form's own Visible tells whether its window is shown; a headless form that was never
    // shown still hands out the focus inside itself.
    if (dynamic_cast<const TForm*>(c) != nullptr) break;
    if (!c->visible_) return false;
  }
  return true;
}

bool TControl::Focused() const {
  const TForm* form = Form();
  return form != nullptr && form->ActiveControl() == this;
}

void TControl::SetFocus() {
  TForm* form = Form();
  if (form == nullptr) throw EPlatformError("Control '" + Name() + "' belongs to no form and cannot take the focus");
  form->FocusControl(this);
}

TForm* TControl::Form() const {
  for (const TComponent* c = this; c != nullptr; c = c->Owner()) {
    if (auto* form = dynamic_cast<const TForm*>(c)) return const_cast<TForm*>(form);
  }
  // A control not owned by a form may still sit on one.
  for (const TControl* c = parent_; c != nullptr; c = c->parent_) {
    if (auto* form = dynamic_cast<const TForm*>(c)) return const_cast<TForm*>(form);
  }
  return nullptr;
}

bool TControl::ContainsControl(const TControl* other) const {
  for (const TControl* c = other; c != nullptr; c = c->parent_) {
    if (c == this) return true;
  }
  return false;
}

// Handlers run from a copy: a handler may rebind its own event while it runs.
void TControl::DoEnter() {
  if (TNotifyEvent handler = OnEnter) handler(this);
}

void TControl::DoExit() {
  if (TNotifyEvent handler = OnExit) handler(this);
}

void TControl::ChildAdded(TControl*) {}
void TControl::ChildRemoved(TControl*) {}

}  // namespace host
