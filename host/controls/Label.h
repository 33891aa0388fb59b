// TLabel shows a fixed caption (the screen code in the toolbar, for instance). It never takes
// the focus. Used on the user-interface thread only. Not copyable.
#pragma once

#include "host/controls/Control.h"

namespace host {

class TLabel : public TControl {
 public:
  explicit TLabel(std::string name = {}, TComponent* owner = nullptr);

 protected:
  bool TakesFocus() const override { return false; }
};

}  // namespace host
