// The module's exported globals, as the screen code sees them. They are defined, exported and
// reset by the module entry (module/Module.cpp); the host reaches them by name.
#pragma once

#include <string>

namespace pdi07310 {
class TfrmProdDesoneraImpos;
}

extern "C" {
// The one screen instance of this load of the module; set by the factory.
extern pdi07310::TfrmProdDesoneraImpos* frmProdDesoneraImpos;
// The screen has been created during this load of the module.
extern bool boIdCriado;
// Product validation before a new product row is posted. Cleared only while a related-list
// save posts the pending product row.
extern bool boValida;
}

namespace pdi07310 {

// Switches product validation off for its lifetime and back on when it ends, on every path.
class ValidationSwitch {
 public:
  ValidationSwitch() { boValida = false; }
  ~ValidationSwitch() { boValida = true; }
  ValidationSwitch(const ValidationSwitch&) = delete;
  ValidationSwitch& operator=(const ValidationSwitch&) = delete;
};

}  // namespace pdi07310
