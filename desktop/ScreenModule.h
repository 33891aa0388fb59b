// ScreenModule is the desktop's handle on the screen module PKG_PDI07310 (a shared library): it
// loads it with the platform's ModuleLoader (which runs the module's Initialize), calls its entry
// IniProc to open or bring forward the screen, and unloads it (Finalize) after destroying the
// forms whose code lives in it.
//
// Used on the user-interface thread only. Not copyable or movable.
#pragma once

#include <string>

#include "host/module/ModuleLoader.h"

namespace desktop {

class ScreenModule {
 public:
  ScreenModule() = default;
  // Unloads the module (see Unload).
  ~ScreenModule();
  ScreenModule(const ScreenModule&) = delete;
  ScreenModule& operator=(const ScreenModule&) = delete;

  // Loads the module at `path` unless it is loaded already. Raises host::EModuleError naming the
  // path (and the missing entry) on failure.
  void Load(const std::string& path);
  bool Loaded() const { return loader_.Loaded(); }
  const std::string& Path() const { return loader_.Path(); }

  // Calls the module's IniProc: creates the screen on the first call, shows and restores it on
  // later ones. Whatever IniProc raises passes on unchanged. Raises host::EModuleError when the
  // module is not loaded or exports no IniProc.
  void IniProc();
  // The module's exported boolean global `name` (boIdCriado, boValida); raises EModuleError when
  // it is missing.
  bool Flag(const std::string& name) const;

  // Destroys every form of the application (their code lives in the module), then unloads it.
  // A no-op when nothing is loaded. Never throws.
  void Unload() noexcept;

 private:
  host::ModuleLoader loader_;
};

}  // namespace desktop
