#include "host/controls/PageControl.h"

#include <algorithm>

#include "host/controls/Form.h"
#include "host/controls/TabSheet.h"

namespace host {

TPageControl::TPageControl(std::string name, TComponent* owner) : TControl(std::move(name), owner) {}

void TPageControl::RequirePage(const TTabSheet* page, const char* what) const {
  if (page == nullptr || std::find(pages_.begin(), pages_.end(), page) == pages_.end()) {
    throw EPlatformError(std::string(what) + ": '" + (page != nullptr ? page->Name() : std::string("(none)")) +
                         "' is not a page of '" + Name() + "'");
  }
}

void TPageControl::SetActivePage(TTabSheet* page) {
  RequirePage(page, "SetActivePage");
  if (active_ == page) return;
  active_ = page;
  Changed("ActivePage");
}

int TPageControl::ActivePageIndex() const {
  auto it = std::find(pages_.begin(), pages_.end(), active_);
  return it == pages_.end() ? -1 : static_cast<int>(it - pages_.begin());
}

bool TPageControl::PressTab(TTabSheet* page, TMouseButton button, TShiftState shift, int x, int y) {
  RequirePage(page, "PressTab");
  if (TForm* form = Form(); form != nullptr && CanFocus()) form->FocusControl(this);
  if (OnMouseDown) OnMouseDown(this, button, shift, x, y);
  if (!page->Enabled() || !page->TabVisible() || page == active_) return false;
  active_ = page;
  Changed("ActivePage");
  if (OnChange) OnChange(this);
  return true;
}

void TPageControl::ChildAdded(TControl* child) {
  auto* sheet = dynamic_cast<TTabSheet*>(child);
  if (sheet == nullptr) return;
  pages_.push_back(sheet);
  Changed("Pages");
  if (active_ == nullptr) {
    active_ = sheet;
    Changed("ActivePage");
  }
}

void TPageControl::ChildRemoved(TControl* child) {
  auto it = std::find(pages_.begin(), pages_.end(), child);
  if (it == pages_.end()) return;
  const auto index = it - pages_.begin();
  pages_.erase(it);
  Changed("Pages");
  if (active_ == child) {
    active_ = pages_.empty() ? nullptr : pages_[std::min<std::size_t>(index, pages_.size() - 1)];
    Changed("ActivePage");
  }
}

void TPageControl::MovePage(TTabSheet* page, int index) {
  RequirePage(page, "PageIndex");
  auto it = std::find(pages_.begin(), pages_.end(), page);
  pages_.erase(it);
  index = std::clamp(index, 0, static_cast<int>(pages_.size()));
  pages_.insert(pages_.begin() + index, page);
  Changed("Pages");
}

}  // namespace host
