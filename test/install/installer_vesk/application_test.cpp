// The application object on the process-wide tracer, setup manager and command-line
// block (its real name: no bootstrapper may run meanwhile).
#include "installer_vesk/application.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "log_file.h"
#include "installer_vesk/bootstrapper_objects.h"
#include "installer_vesk/interop_helpers.h"
#include "installer_vesk/msi_setup_manager.h"
#include "installer_vesk/tracer.h"
#include "ovra/strings.h"

namespace {

namespace fs = std::filesystem;
using installer::PrefixDirectory;

class ApplicationTest : public native_test::ScratchTest {
 protected:
  void SetUp() override {
    ScratchTest::SetUp();
    fs::create_directories(first_ = dir_ / "application logs");
    fs::create_directories(second_ = dir_ / "application logs again");
  }
  void TearDown() override {
    installer::GetTracer()->CloseInstallerLog();
    ScratchTest::TearDown();
  }

  void WriteCommandLine(const std::wstring& text) {
    ASSERT_TRUE(installer::WriteCommandLineText(block_.data(), installer::kCommandLineBlockSize, text));
  }

  installer::CommandLineMapping block_;
  fs::path first_;
  fs::path second_;
};

TEST_F(ApplicationTest, EachRunNamesTheLogsInItsDirectory) {
  const auto tracer = installer::GetTracer();
  const std::string installer_log = tracer->GetInstallerLogName();  // no run yet: the bare names
  const std::string msi_log = tracer->GetMsiLogName();
  const std::string first = first_.u8string();
  const std::string second_with_separator = second_.u8string() + (fs::path::preferred_separator == L'\\' ? "\\" : "/");
  installer::Application application;

  WriteCommandLine(L"setup.exe /log \"" + ovra::WideFromUtf8(first) + L"\" /quiet");
  EXPECT_TRUE(application.run());
  EXPECT_EQ(PrefixDirectory(first, installer_log), tracer->GetInstallerLogName());
  EXPECT_EQ(PrefixDirectory(first, msi_log), tracer->GetMsiLogName());
  EXPECT_TRUE(tracer->IsLogOpen());

  // A second run replaces the directory; the open log stays on its file.
  WriteCommandLine(L"setup.exe /log \"" + ovra::WideFromUtf8(second_with_separator) + L"\"");
  EXPECT_TRUE(application.run());
  EXPECT_EQ(second_with_separator + installer_log, tracer->GetInstallerLogName());
  EXPECT_EQ(second_with_separator + msi_log, tracer->GetMsiLogName());

  WriteCommandLine(L"setup.exe /quiet");
  EXPECT_TRUE(application.run());
  EXPECT_EQ(second_with_separator + msi_log, tracer->GetMsiLogName());
  EXPECT_TRUE(application.join());

  tracer->CloseInstallerLog();
  EXPECT_EQ(tracer_test::ReadRecords(first_ / installer_log),
            (std::vector<std::string>{"bl\tApplication run", "bl\tApplication run", "bl\tApplication run",
                                      "bl\tApplication join"}));
  EXPECT_FALSE(fs::exists(second_ / installer_log));
}

TEST_F(ApplicationTest, JoinReleasesTheSetupManagersHolder) {
  const std::shared_ptr<MsiSetupManager> before = MsiSetupManager::instance();
  installer::Application application;
  EXPECT_TRUE(application.join());
  EXPECT_TRUE(application.join());  // nothing left to release
  const std::shared_ptr<MsiSetupManager> after = MsiSetupManager::instance();
  EXPECT_NE(before, after);
  EXPECT_EQ(after, MsiSetupManager::instance());
}

}  // namespace
