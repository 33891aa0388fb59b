// The module entry of PKG_PDI07310: package load and unload, the screen factory, the module
// globals and the package information the host's loader reads.
#include <string>

#include "host/controls/Application.h"
#include "host/controls/Screen.h"
#include "module/ModuleGlobals.h"
#include "module/PackageInfo.h"
#include "screen/ProdDesoneraImpos.h"

#define PDI_EXPORT __attribute__((visibility("default")))

extern "C" {
PDI_EXPORT pdi07310::TfrmProdDesoneraImpos* frmProdDesoneraImpos = nullptr;
PDI_EXPORT bool boIdCriado = false;
PDI_EXPORT bool boValida = true;
// Declared by the unit and released at unload; nothing else uses them.
PDI_EXPORT std::string stProduto;
PDI_EXPORT std::string stForneced;
PDI_EXPORT std::string stInsProduto;
}

namespace pdi07310 {
namespace {

// Unit initialization is counted: nested loads run it once, and finalization runs only when
// the count returns to zero.
int unitInitCount = 0;

void InitializeUnit() {
  boIdCriado = false;
  boValida = true;
}

void FinalizeUnit() {
  // A screen still alive at unload would outlive its code; the host closes it first, but the
  // module does not rely on that.
  if (frmProdDesoneraImpos != nullptr) {
    host::Application().DestroyForm(frmProdDesoneraImpos);
    frmProdDesoneraImpos = nullptr;
  }
  std::string().swap(stProduto);
  std::string().swap(stForneced);
  std::string().swap(stInsProduto);
}

// Restores the default cursor when the factory ends, whichever way it ends: a failed creation
// must not leave the whole application showing the hourglass.
class CursorGuard {
 public:
  CursorGuard() { host::Screen().SetCursor(host::crHourGlass); }
  ~CursorGuard() { host::Screen().SetCursor(host::crDefault); }
  CursorGuard(const CursorGuard&) = delete;
  CursorGuard& operator=(const CursorGuard&) = delete;
};

}  // namespace
}  // namespace pdi07310

extern "C" {

PDI_EXPORT void Initialize() {
  if (pdi07310::unitInitCount++ == 0) pdi07310::InitializeUnit();
}

PDI_EXPORT void Finalize() {
  if (pdi07310::unitInitCount == 0) return;
  if (--pdi07310::unitInitCount == 0) pdi07310::FinalizeUnit();
}

PDI_EXPORT void CriaProdDesoneraImpos() {
  pdi07310::CursorGuard cursor;
  if (!boIdCriado) {
    host::Application().CreateForm(frmProdDesoneraImpos);
    boIdCriado = true;
  }
  frmProdDesoneraImpos->Show();
  frmProdDesoneraImpos->SetWindowState(host::TWindowState::wsNormal);
}

PDI_EXPORT void IniProc() { CriaProdDesoneraImpos(); }

PDI_EXPORT const pdi07310::PackageInfo* GetPackageInfoTable() { return &pdi07310::kPackageInfo; }

}  // extern "C"
