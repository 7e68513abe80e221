// The controller's methods over packages and installed products: repairing the
// pre-release product's cached package, and starting the product.
#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>
#include <string>

#include "installer_vesk/installer_controller.h"
#include "msi_wrapper/msi_database.h"
#include "msi_wrapper/product_info.h"
#include "msi_wrapper/setup_engine.h"
#include "program_support.h"

namespace {

using installer::AppController;
using installer::ShellExecTargetProgram;
using namespace installer::msi_wrapper;

TEST(ShellExecTarget, NamesTheProgramBetweenTheBrackets) {
  const struct {
    const wchar_t* target;
    const wchar_t* program;
  } cases[] = {
      {L"[#NineteenCharacters]", L"NineteenCharacters"},
      {L"[#short.exe]", L"short.exe"},
      {L"[#a_name_much_longer_than_nineteen.exe]", L"a_name_much_longer_than_nineteen.exe"},
      {L"[#open", L"open"},        // no closing bracket: the rest of the value
      {L"xyprogram", L"program"},  // not the [# form: without its first two characters
      {L"[#]", L""},
      {L"[#", L""},
  };
  for (const auto& c : cases) EXPECT_EQ(c.program, ShellExecTargetProgram(c.target));
  EXPECT_THROW(ShellExecTargetProgram(L"["), std::out_of_range);
  EXPECT_THROW(ShellExecTargetProgram(L""), std::out_of_range);
}

// The AGREETOEULA rows of a package.
int EulaRows(const std::wstring& path) {
  UINT error = ERROR_SUCCESS;
  const auto database = OpenMsiDatabase(path, error);
  if (!database) return -1;
  std::unique_ptr<MsiView> view;
  if (database->OpenView(L"SELECT `Value` FROM `Property` WHERE `Property`='AGREETOEULA'", view) != 0) return -1;
  int rows = 0;
  while (auto record = view->Fetch()) {
    EXPECT_EQ(L"1", record->GetString(1));
    ++rows;
  }
  return rows;
}

TEST(FixBeta, CommitsTheRowOnceAndNeedsTheProduct) {
  msi_test::ScopedEngineHome home;
  AppController controller;
  EXPECT_EQ(ERROR_UNKNOWN_PRODUCT, controller.fixBeta());

  ASSERT_EQ(0u, MsiInstallProductW(msi_test::PackagePath(L"osprey_beta.msi").c_str(), L""));
  std::wstring cached;
  ASSERT_EQ(0u, GetInstalledProductProperty(installer::kPreReleaseProductCode, L"LocalPackage", cached));
  EXPECT_EQ(0, EulaRows(cached));

  EXPECT_EQ(0, controller.fixBeta());
  EXPECT_EQ(1, EulaRows(cached));  // committed, so a fresh reader sees it
  EXPECT_NE(0, controller.fixBeta());
  EXPECT_EQ(1, EulaRows(cached));

  EXPECT_EQ(0u, MsiConfigureProductExW(installer::kPreReleaseProductCode, 0, INSTALLSTATE_ABSENT, L""));
}

// startProduct looks for the package in the current directory.
using StartProduct = native_test::CurrentScratchTest;

TEST_F(StartProduct, ReportsAMissingPackageAndAMissingTarget) {
  AppController controller;
  EXPECT_NE(0, controller.startProduct());  // the open error of the missing package
  std::filesystem::copy_file(msi_test::PackagePath(L"osprey_1_9.msi"), dir_ / DefaultMsiFileName);
  EXPECT_THROW(controller.startProduct(), std::out_of_range);  // no WixShellExecTarget
}

}  // namespace
