// ModuleLoader loads one screen module (a shared library) and reaches its exported entries by
// name: Load opens the library with RTLD_NOW | RTLD_LOCAL (every symbol resolved at once, none
// leaking into other modules) and runs its exported `Initialize`; Symbol<T>(name) finds an
// exported function or global (IniProc, CriaProdDesoneraImpos, the module's globals); Unload runs
// `Finalize` and closes the library. The library handle is held by RAII: destroying a loaded
// loader unloads the module (Finalize included; an exception from Finalize is swallowed there,
// since a destructor must not throw).
//
// Errors raise EModuleError naming the path and, for a missing entry, the symbol.
//
// Before unloading, the host must destroy every object whose code lives in the module (its
// forms): nothing of the module may run after Unload.
//
// Used on the user-interface thread only. Movable, not copyable (one owner per loaded library).
#pragma once

#include <memory>
#include <string>
#include <type_traits>

#include "host/core/Component.h"

namespace host {

class EModuleError : public EPlatformError {
 public:
  using EPlatformError::EPlatformError;
};

class ModuleLoader {
 public:
  ModuleLoader() = default;
  ~ModuleLoader();
  ModuleLoader(ModuleLoader&& other) noexcept = default;
  ModuleLoader& operator=(ModuleLoader&& other) noexcept;
  ModuleLoader(const ModuleLoader&) = delete;
  ModuleLoader& operator=(const ModuleLoader&) = delete;

  // Opens the module at `path` and runs its exported `Initialize()`. Raises EModuleError when a
  // module is already loaded by this loader, when the library cannot be opened (the message names
  // the path and the loader's reason), or when it does not export `Initialize` (the library is
  // closed again). An exception from Initialize closes the library and propagates.
  void Load(const std::string& path);
  // Runs the module's exported `Finalize()` (when it has one) and closes the library. A no-op
  // when nothing is loaded. The library is closed even when Finalize raises; the exception then
  // propagates.
  void Unload();

  bool Loaded() const { return handle_ != nullptr; }
  const std::string& Path() const { return path_; }

  // The address of the exported symbol `name`, or null when the module does not export it.
  // Raises EModuleError when no module is loaded.
  void* FindSymbol(const std::string& name) const;

  // The exported symbol `name` as T: a function pointer type (void (*)()) or a pointer to a
  // global (bool*). Raises EModuleError naming the path and the symbol when it is missing.
  // REQUIRES: T matches the exported symbol's real type.
  template <class T>
  T Symbol(const std::string& name) const {
    static_assert(std::is_pointer_v<T>, "Symbol<T> returns a pointer (function or global)");
    void* address = RequireSymbol(name);
    if constexpr (std::is_function_v<std::remove_pointer_t<T>>) {
      return reinterpret_cast<T>(reinterpret_cast<void (*)()>(address));
    } else {
      return static_cast<T>(address);
    }
  }

 private:
  struct Closer {
    void operator()(void* handle) const noexcept;
  };

  void* RequireSymbol(const std::string& name) const;

  std::unique_ptr<void, Closer> handle_;
  std::string path_;
};

}  // namespace host
