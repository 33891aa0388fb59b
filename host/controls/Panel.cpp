#include "host/controls/Panel.h"

namespace host {

TPanel::TPanel(std::string name, TComponent* owner) : TControl(std::move(name), owner) {}

void TPanel::SetBevelOuter(std::string bevel) {
  if (bevelOuter_ == bevel) return;
  bevelOuter_ = std::move(bevel);
  Changed("BevelOuter");
}

}  // namespace host
