#include "host/controls/TabSheet.h"

#include "host/controls/PageControl.h"

namespace host {

TTabSheet::TTabSheet(std::string name, TComponent* owner) : TControl(std::move(name), owner) {}

TPageControl* TTabSheet::PageControl() const { return dynamic_cast<TPageControl*>(Parent()); }

void TTabSheet::SetTabVisible(bool visible) {
  if (tabVisible_ == visible) return;
  tabVisible_ = visible;
  Changed("TabVisible");
}

int TTabSheet::PageIndex() const {
  const TPageControl* pages = PageControl();
  if (pages == nullptr) return -1;
  const auto& list = pages->Pages();
  for (std::size_t i = 0; i < list.size(); ++i) {
    if (list[i] == this) return static_cast<int>(i);
  }
  return -1;
}

void TTabSheet::SetPageIndex(int index) {
  TPageControl* pages = PageControl();
  if (pages == nullptr) throw EPlatformError("Tab sheet '" + Name() + "' is on no page control");
  pages->MovePage(this, index);
}

}  // namespace host
