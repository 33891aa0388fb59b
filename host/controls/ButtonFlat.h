// TButtonFlat is a flat toolbar button: caption, hint, glyph (by resource name) and OnClick.
// Click() is the user's press: it runs OnClick only while the button is enabled and visible.
// A flat button never takes the focus (pressing it leaves the focus where it was).
// Used on the user-interface thread only. Not copyable.
#pragma once

#include "host/controls/Control.h"

namespace host {

class TButtonFlat : public TControl {
 public:
  explicit TButtonFlat(std::string name = {}, TComponent* owner = nullptr);

  // Name of the image shown on the button; empty for none.
  const std::string& Glyph() const { return glyph_; }
  void SetGlyph(std::string glyph);

  TNotifyEvent OnClick;

  // The user's press. Returns false and does nothing when the button is disabled or hidden;
  // otherwise runs OnClick (when set; exceptions propagate) and returns true.
  bool Click();

 protected:
  bool TakesFocus() const override { return false; }

 private:
  std::string glyph_;
};

}  // namespace host
