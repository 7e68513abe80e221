// The addon binds its Node-API imports while it loads: in this program, which exports none,
// loading must fail cleanly rather than succeed and fail at the first call.
#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <type_traits>

namespace {

struct ModuleFree {
  void operator()(HMODULE module) const { FreeLibrary(module); }
};
using ModuleHandle = std::unique_ptr<std::remove_pointer_t<HMODULE>, ModuleFree>;

TEST(NodeHostImports, AHostWithoutNodeApiCannotLoadTheAddon) {
  SetErrorMode(SEM_FAILCRITICALERRORS);
  for (int attempt = 0; attempt < 2; ++attempt) {
    ModuleHandle addon(LoadLibraryW(L".\\installer_vesk.node"));
    const DWORD error = GetLastError();
    EXPECT_EQ(addon, nullptr) << "attempt " << attempt;
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_DLL_INIT_FAILED)) << "attempt " << attempt;
  }
}

TEST(NodeHostImports, TheAddonIsThereToLoad) {
  // Without running its code, the same file loads: the failure above is the binding's.
  ModuleHandle addon(LoadLibraryExW(L".\\installer_vesk.node", nullptr, LOAD_LIBRARY_AS_DATAFILE));
  EXPECT_NE(addon, nullptr) << GetLastError();
}

}  // namespace
