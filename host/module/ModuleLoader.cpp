#include "host/module/ModuleLoader.h"

#include <dlfcn.h>

namespace host {

namespace {

using EntryPoint = void (*)();

std::string LastDlError() {
  const char* error = dlerror();
  return error != nullptr ? std::string(error) : std::string("unknown reason");
}

}  // namespace

void ModuleLoader::Closer::operator()(void* handle) const noexcept {
  if (handle != nullptr) dlclose(handle);
}

ModuleLoader::~ModuleLoader() {
  try {
    Unload();
  } catch (...) {
    // Finalize failed while the loader goes away; the library is closed all the same.
  }
}

ModuleLoader& ModuleLoader::operator=(ModuleLoader&& other) noexcept {
  if (this != &other) {
    try {
      Unload();
    } catch (...) {
    }
    handle_ = std::move(other.handle_);
    path_ = std::move(other.path_);
  }
  return *this;
}

void ModuleLoader::Load(const std::string& path) {
  if (handle_) throw EModuleError("Module '" + path_ + "' is already loaded; unload it before loading '" + path + "'");
  dlerror();
  std::unique_ptr<void, Closer> handle(dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL));
  if (!handle) throw EModuleError("Cannot load module '" + path + "': " + LastDlError());
  dlerror();
  void* initialize = dlsym(handle.get(), "Initialize");
  if (initialize == nullptr) {
    throw EModuleError("Module '" + path + "' does not export the symbol 'Initialize'");
  }
  handle_ = std::move(handle);
  path_ = path;
  try {
    reinterpret_cast<EntryPoint>(reinterpret_cast<void (*)()>(initialize))();
  } catch (...) {
    handle_.reset();
    path_.clear();
    throw;
  }
}

void ModuleLoader::Unload() {
  if (!handle_) return;
  dlerror();
  void* finalize = dlsym(handle_.get(), "Finalize");
  std::unique_ptr<void, Closer> handle = std::move(handle_);
  path_.clear();
  // `handle` closes the library on every path out of here, Finalize raising included.
  if (finalize != nullptr) reinterpret_cast<EntryPoint>(reinterpret_cast<void (*)()>(finalize))();
}

void* ModuleLoader::FindSymbol(const std::string& name) const {
  if (!handle_) throw EModuleError("No module is loaded; cannot look up '" + name + "'");
  dlerror();
  return dlsym(handle_.get(), name.c_str());
}

void* ModuleLoader::RequireSymbol(const std::string& name) const {
  void* address = FindSymbol(name);
  if (address == nullptr) throw EModuleError("Module '" + path_ + "' does not export the symbol '" + name + "'");
  return address;
}

}  // namespace host
