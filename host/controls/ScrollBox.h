// TScrollBox is a container control that scrolls its contents when they do not fit; headless it
// is a plain container whose border style the drawing host reads. Used on the user-interface
// thread only. Not copyable.
#pragma once

#include "host/controls/Control.h"

namespace host {

class TScrollBox : public TControl {
 public:
  explicit TScrollBox(std::string name = {}, TComponent* owner = nullptr);

  // Border style by platform name ("bsNone", "bsSingle"); empty means the default.
  const std::string& BorderStyle() const { return borderStyle_; }
  void SetBorderStyle(std::string style);

 private:
  std::string borderStyle_;
};

}  // namespace host
