// TPageControl is a tab strip over a set of pages (TTabSheet), exactly one of which is active
// (shown). The program changes the page with SetActivePage; the user presses a tab with
// PressTab, which runs OnMouseDown first and then changes the page only when that page is
// enabled (a disabled page cannot be chosen, which is how a screen locks the user on one page).
// A page control can hold the focus; pressing its tabs gives it the focus.
//
// Observers receive "Pages" and "ActivePage". Used on the user-interface thread only.
// Not copyable.
#pragma once

#include <vector>

#include "host/controls/Control.h"

namespace host {

class TTabSheet;

class TPageControl : public TControl {
 public:
  explicit TPageControl(std::string name = {}, TComponent* owner = nullptr);

  // Pages in tab order.
  const std::vector<TTabSheet*>& Pages() const { return pages_; }
  int PageCount() const { return static_cast<int>(pages_.size()); }

  // The page shown; null only when there are no pages. The first page placed becomes active.
  TTabSheet* ActivePage() const { return active_; }
  // Shows `page` (programmatic: OnChange does not run). Raises EPlatformError when `page` is
  // not one of this control's pages.
  void SetActivePage(TTabSheet* page);
  int ActivePageIndex() const;

  // Runs after the user changed the page through the tab strip.
  TNotifyEvent OnChange;
  // Runs when a mouse button is pressed on the tab strip, before any page change.
  TMouseEvent OnMouseDown;

  // The user's left-button press on the tab of `page`, in this order: the page control takes the
  // focus when it can (the old active control's OnExit runs first; an exception there ends the
  // press and propagates); OnMouseDown runs (for any page, enabled or not; an exception ends the
  // press); then, when `page` is enabled, shown as a tab and not already active, it becomes the
  // active page and OnChange runs. Returns true when the page changed. Raises EPlatformError
  // when `page` is not one of this control's pages.
  bool PressTab(TTabSheet* page, TMouseButton button = TMouseButton::mbLeft, TShiftState shift = {},
                int x = 0, int y = 0);

 protected:
  void ChildAdded(TControl* child) override;
  void ChildRemoved(TControl* child) override;

 private:
  friend class TTabSheet;
  void MovePage(TTabSheet* page, int index);
  void RequirePage(const TTabSheet* page, const char* what) const;

  std::vector<TTabSheet*> pages_;
  TTabSheet* active_ = nullptr;
};

}  // namespace host
