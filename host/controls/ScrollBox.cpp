#include "host/controls/ScrollBox.h"

namespace host {

TScrollBox::TScrollBox(std::string name, TComponent* owner) : TControl(std::move(name), owner) {}

void TScrollBox::SetBorderStyle(std::string style) {
  if (borderStyle_ == style) return;
  borderStyle_ = std::move(style);
  Changed("BorderStyle");
}

}  // namespace host
