// TTabSheet is one page of a TPageControl: its tab's caption, whether the tab is shown
// (TabVisible) and whether it can be chosen (Enabled), its position among the pages
// (PageIndex) and OnEnter, which runs when the focus comes into the sheet from outside it
// (TForm::FocusControl). Placing a sheet on a page control (SetParent) makes it one of its pages.
// A sheet can itself hold the focus.
//
// Used on the user-interface thread only. Not copyable.
#pragma once

#include "host/controls/Control.h"

namespace host {

class TPageControl;

class TTabSheet : public TControl {
 public:
  explicit TTabSheet(std::string name = {}, TComponent* owner = nullptr);

  // The page control this sheet is a page of; null when it is not placed on one.
  TPageControl* PageControl() const;

  bool TabVisible() const { return tabVisible_; }
  void SetTabVisible(bool visible);

  // Position among the pages of its page control; -1 when it has none.
  int PageIndex() const;
  // Moves the sheet to position `index` (clamped to the pages' range). Raises EPlatformError
  // when the sheet is on no page control.
  void SetPageIndex(int index);

 private:
  bool tabVisible_ = true;
};

}  // namespace host
