#include "host/controls/Label.h"

namespace host {

TLabel::TLabel(std::string name, TComponent* owner) : TControl(std::move(name), owner) {}

}  // namespace host
