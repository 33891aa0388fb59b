#include "host/controls/MainMenu.h"

#include <algorithm>

namespace host {

TMainMenu::TMainMenu(std::string name, TComponent* owner) : TComponent(std::move(name), owner) {}

TMainMenu::~TMainMenu() {
  for (TMenuItem* item : items_) item->menu_ = nullptr;
}

void TMainMenu::Add(TMenuItem* item) {
  if (item == nullptr) throw EPlatformError("Invalid menu entry for '" + Name() + "'");
  if (item->parent_ != nullptr) item->parent_->Remove(item);
  if (item->menu_ != nullptr) item->menu_->Remove(item);
  items_.push_back(item);
  item->menu_ = this;
  Notify("Items");
}

void TMainMenu::Remove(TMenuItem* item) {
  auto it = std::find(items_.begin(), items_.end(), item);
  if (it == items_.end()) return;
  items_.erase(it);
  item->menu_ = nullptr;
  Notify("Items");
}

}  // namespace host
