#include "host/controls/ButtonFlat.h"

namespace host {

TButtonFlat::TButtonFlat(std::string name, TComponent* owner) : TControl(std::move(name), owner) {}

void TButtonFlat::SetGlyph(std::string glyph) {
  if (glyph_ == glyph) return;
  glyph_ = std::move(glyph);
  Changed("Glyph");
}

bool TButtonFlat::Click() {
  if (!Enabled() || !Visible()) return false;
  if (OnClick) OnClick(this);
  return true;
}

}  // namespace host
