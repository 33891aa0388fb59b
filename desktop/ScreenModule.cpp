#include "desktop/ScreenModule.h"

#include "host/controls/Application.h"

namespace desktop {

ScreenModule::~ScreenModule() { Unload(); }

void ScreenModule::Load(const std::string& path) {
  if (loader_.Loaded()) return;
  loader_.Load(path);
}

void ScreenModule::IniProc() {
  if (!loader_.Loaded()) throw host::EModuleError("O módulo da tela não está carregado");
  auto entry = loader_.Symbol<void (*)()>("IniProc");
  entry();
}

bool ScreenModule::Flag(const std::string& name) const { return *loader_.Symbol<bool*>(name); }

void ScreenModule::Unload() noexcept {
  if (!loader_.Loaded()) return;
  try {
    host::Application().DestroyForms();
  } catch (...) {
    // Destructors of forms do not throw; nothing else to do here.
  }
  try {
    loader_.Unload();
  } catch (...) {
    // The library is closed even when Finalize raises; there is nobody left to tell.
  }
}

}  // namespace desktop
