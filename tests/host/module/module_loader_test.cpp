// Loading screen modules: the load and unload entries run in order, exports are found by name,
// and every failure names the path and the symbol.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <stdexcept>
#include <string>

#include "host/module/ModuleLoader.h"

namespace host {
namespace {

int finalized = 0;
void CountFinalize() { ++finalized; }

std::string ErrorOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const EModuleError& e) {
    return e.what();
  }
  return "(no error)";
}

TEST(ModuleLoaderTest, LoadRunsInitializeAndUnloadRunsFinalize) {
  finalized = 0;
  ModuleLoader module;
  module.Load(PDI_TEST_SCREEN_MODULE);
  EXPECT_TRUE(module.Loaded());
  EXPECT_EQ(*module.Symbol<int*>("initializeCount"), 1);
  EXPECT_FALSE(*module.Symbol<bool*>("boIdCriado")) << "Initialize set the module's globals";

  module.Symbol<void (*)()>("IniProc")();
  module.Symbol<void (*)()>("IniProc")();
  EXPECT_EQ(*module.Symbol<int*>("iniProcCount"), 2);

  *module.Symbol<void (**)()>("finalizeProbe") = &CountFinalize;
  module.Unload();
  EXPECT_EQ(finalized, 1);
  EXPECT_FALSE(module.Loaded());
  module.Unload();  // harmless when nothing is loaded
  EXPECT_EQ(finalized, 1);
}

TEST(ModuleLoaderTest, ReloadingStartsFromTheModulesLoadTimeValues) {
  ModuleLoader module;
  module.Load(PDI_TEST_SCREEN_MODULE);
  module.Symbol<void (*)()>("IniProc")();
  module.Unload();
  module.Load(PDI_TEST_SCREEN_MODULE);
  EXPECT_EQ(*module.Symbol<int*>("iniProcCount"), 0);
  EXPECT_EQ(*module.Symbol<int*>("initializeCount"), 1);
}

TEST(ModuleLoaderTest, DestroyingALoadedLoaderUnloadsTheModule) {
  finalized = 0;
  {
    ModuleLoader module;
    module.Load(PDI_TEST_SCREEN_MODULE);
    *module.Symbol<void (**)()>("finalizeProbe") = &CountFinalize;
    ModuleLoader moved = std::move(module);
    EXPECT_FALSE(module.Loaded());  // NOLINT(bugprone-use-after-move): the moved-from state is specified
    EXPECT_TRUE(moved.Loaded());
  }
  EXPECT_EQ(finalized, 1);
}

TEST(ModuleLoaderTest, FailuresNameThePathAndTheSymbol) {
  ModuleLoader module;
  const std::string missing = "/nonexistent/PKG_NADA.so";
  EXPECT_EQ(ErrorOf([&] { module.Load(missing); }).rfind("Cannot load module '" + missing + "': ", 0), 0u);
  EXPECT_EQ(ErrorOf([&] { module.Load(PDI_TEST_MODULE_WITHOUT_ENTRY); }),
            std::string("Module '") + PDI_TEST_MODULE_WITHOUT_ENTRY + "' does not export the symbol 'Initialize'");
  EXPECT_FALSE(module.Loaded());
  EXPECT_EQ(ErrorOf([&] { module.FindSymbol("IniProc"); }), "No module is loaded; cannot look up 'IniProc'");

  module.Load(PDI_TEST_SCREEN_MODULE);
  EXPECT_EQ(ErrorOf([&] { module.Symbol<void (*)()>("CriaNada"); }),
            std::string("Module '") + PDI_TEST_SCREEN_MODULE + "' does not export the symbol 'CriaNada'");
  EXPECT_EQ(module.FindSymbol("CriaNada"), nullptr);
  EXPECT_EQ(ErrorOf([&] { module.Load(PDI_TEST_SCREEN_MODULE); }).rfind("Module '", 0), 0u)
      << "a second load through the same loader is refused";
}

TEST(ModuleLoaderTest, AFailingInitializeLeavesNothingLoaded) {
  setenv("PDI_TEST_MODULE_FAIL", "1", 1);
  ModuleLoader module;
  EXPECT_THROW(module.Load(PDI_TEST_SCREEN_MODULE), std::runtime_error);
  unsetenv("PDI_TEST_MODULE_FAIL");
  EXPECT_FALSE(module.Loaded());
  module.Load(PDI_TEST_SCREEN_MODULE);
  EXPECT_EQ(*module.Symbol<int*>("initializeCount"), 1);
}

}  // namespace
}  // namespace host
