#include "host/controls/MenuItem.h"

#include <algorithm>

#include "host/controls/MainMenu.h"

namespace host {

TMenuItem::TMenuItem(std::string name, TComponent* owner) : TComponent(std::move(name), owner) {}

TMenuItem::~TMenuItem() {
  for (TMenuItem* child : items_) child->parent_ = nullptr;
  if (parent_ != nullptr) std::erase(parent_->items_, this);
  if (menu_ != nullptr) std::erase(menu_->items_, this);
}

void TMenuItem::SetCaption(std::string caption) {
  if (caption_ == caption) return;
  caption_ = std::move(caption);
  Notify("Caption");
}

void TMenuItem::SetEnabled(bool enabled) {
  if (enabled_ == enabled) return;
  enabled_ = enabled;
  Notify("Enabled");
}

void TMenuItem::SetVisible(bool visible) {
  if (visible_ == visible) return;
  visible_ = visible;
  Notify("Visible");
}

bool TMenuItem::Click() {
  if (!enabled_ || !visible_) return false;
  if (OnClick) OnClick(this);
  return true;
}

void TMenuItem::Add(TMenuItem* item) {
  if (item == nullptr || item == this) throw EPlatformError("Invalid menu entry for '" + Name() + "'");
  for (const TMenuItem* p = this; p != nullptr; p = p->parent_) {
    if (p == item) throw EPlatformError("Menu entry '" + item->Name() + "' cannot hold itself");
  }
  if (item->parent_ != nullptr) item->parent_->Remove(item);
  if (item->menu_ != nullptr) item->menu_->Remove(item);
  items_.push_back(item);
  item->parent_ = this;
  Notify("Items");
}

void TMenuItem::Remove(TMenuItem* item) {
  auto it = std::find(items_.begin(), items_.end(), item);
  if (it == items_.end()) return;
  items_.erase(it);
  item->parent_ = nullptr;
  Notify("Items");
}

}  // namespace host
