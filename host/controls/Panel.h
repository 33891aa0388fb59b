// TPanel is a plain container control (the toolbar and navigator bars, the borderless panels on
// the tab sheets). Beyond TControl it keeps its bevel style by name ("bvNone", "bvRaised"), which
// only the drawing host reads. Used on the user-interface thread only. Not copyable.
#pragma once

#include "host/controls/Control.h"

namespace host {

class TPanel : public TControl {
 public:
  explicit TPanel(std::string name = {}, TComponent* owner = nullptr);

  // Outer bevel by platform name; empty means the default raised bevel.
  const std::string& BevelOuter() const { return bevelOuter_; }
  void SetBevelOuter(std::string bevel);

 private:
  std::string bevelOuter_;
};

}  // namespace host
