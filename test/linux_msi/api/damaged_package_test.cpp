// Files that crashed libmsi in-process get error codes from the package check
// (source/linux_msi/package_check/package_check.h), which sees a file changed after its verdict.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "msi_wrapper/msi_handle.h"
#include "ovra/strings.h"
#include "platform/child_process.h"
#include "platform/msi_diagnostics.h"
#include "test_packages.h"

namespace {

namespace fs = std::filesystem;

// plain.msi with `length` bytes zeroed at `offset`: each crashed libmsi at one site.
struct CrashSite {
  const char* site;
  std::size_t offset;
  std::size_t length;
};
const CrashSite kCrashSites[] = {
    {"libmsi_database_new, after libgsf's \"This OLE2 file is invalid\" (a FAT sector)", 6144, 270},
    {"sql_parse, on SELECT * FROM ServiceControl (the string pool)", 4756, 143},
    {"libmsi_summary_info_new, reading past its buffer (the summary stream)", 3592, 676},
};

void Damage(const fs::path& file, std::size_t offset, std::size_t length) {
  std::fstream stream(file, std::ios::in | std::ios::out | std::ios::binary);
  stream.seekp(static_cast<std::streamoff>(offset));
  stream.write(std::string(length, '\0').data(), static_cast<std::streamsize>(length));
  ASSERT_TRUE(stream.good());
}

std::vector<std::string> g_diagnostics;
std::mutex g_diagnostics_mutex;
void Collect(std::string_view message) {
  std::lock_guard<std::mutex> lock(g_diagnostics_mutex);
  g_diagnostics.emplace_back(message);
}

class DamagedPackage : public ::testing::TestWithParam<CrashSite> {
 protected:
  void SetUp() override {
    previous_sink_ = platform::SetMsiDiagnosticSink(Collect);
    g_diagnostics.clear();
  }

  void TearDown() override { platform::SetMsiDiagnosticSink(previous_sink_); }
  bool Reported(const std::string& text) {
    std::lock_guard<std::mutex> lock(g_diagnostics_mutex);
    return std::any_of(g_diagnostics.begin(), g_diagnostics.end(),
                       [&](const std::string& message) { return message.find(text) != std::string::npos; });
  }

  platform::MsiDiagnosticSink previous_sink_ = nullptr;
  msi_test::ScopedEngineHome home_;
};

TEST_P(DamagedPackage, CrashesTheHelperAndGetsErrorCodesHere) {
  const CrashSite& damage = GetParam();
  msi_test::ScratchCopy copy(L"plain.msi");
  Damage(copy.path(), damage.offset, damage.length);
  // The reproducer still crashes libmsi: in the helper, which reads it as the stand-in would.
  platform::ChildProcess helper;
  const fs::path program = fs::read_symlink("/proc/self/exe").parent_path() / "msi_package_check";
  ASSERT_EQ(helper.Start({ovra::WideFromUtf8(program.string()), copy.path()}, L"", L"/dev/null"), 0u);
  std::uint32_t exit_code = 0;
  ASSERT_EQ(helper.Wait(exit_code), 0u);
  EXPECT_NE(exit_code, 0u) << "libmsi no longer fails on this file at " << damage.site;
  MSIHANDLE handle = 0;
  EXPECT_EQ(MsiOpenDatabaseW(copy.path().c_str(), MSIDBOPEN_READONLY, &handle), ERROR_OPEN_FAILED);
  EXPECT_EQ(MsiOpenDatabaseW(copy.path().c_str(), MSIDBOPEN_TRANSACT, &handle), ERROR_OPEN_FAILED);
  const std::wstring output = (copy.folder() / L"out.msi").wstring();
  EXPECT_EQ(MsiOpenDatabaseW(copy.path().c_str(), output.c_str(), &handle), ERROR_OPEN_FAILED);
  EXPECT_FALSE(fs::exists(output));
  EXPECT_EQ(MsiGetSummaryInformationW(0, copy.path().c_str(), 0, &handle), ERROR_OPEN_FAILED);
  EXPECT_EQ(MsiOpenPackageW(copy.path().c_str(), &handle), ERROR_INSTALL_PACKAGE_INVALID);
  EXPECT_EQ(MsiInstallProductW(copy.path().c_str(), L""), ERROR_INSTALL_PACKAGE_INVALID);
  EXPECT_EQ(handle, 0u);
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  // A sanitizer turns the crash into a report and an exit code (or a thread-sanitized helper times out).
  EXPECT_TRUE(Reported("is unreadable: "));
#else
  EXPECT_TRUE(Reported("is unreadable: reading it ended with signal"));
#endif
}

INSTANTIATE_TEST_SUITE_P(ThreeCrashSites, DamagedPackage, ::testing::ValuesIn(kCrashSites));

// Same inode and size, written within the copy's time-stamp tick: only the content differs.
TEST(PackageCheck, FileDamagedInPlaceAfterAGoodVerdictIsCheckedAgain) {
  msi_test::ScratchCopy copy(L"plain.msi");
  MSIHANDLE database = 0;
  ASSERT_EQ(MsiOpenDatabaseW(copy.path().c_str(), MSIDBOPEN_READONLY, &database), ERROR_SUCCESS);
  MsiCloseHandle(database);
  Damage(copy.path(), kCrashSites[0].offset, kCrashSites[0].length);
  EXPECT_EQ(MsiOpenDatabaseW(copy.path().c_str(), MSIDBOPEN_READONLY, &database), ERROR_OPEN_FAILED);
}

// Names that would leave their folder make the package invalid for the engine.
const wchar_t* const kEscapingNames[] = {
    {L"UPDATE `File` SET `FileName` = 'escape|../../escape.txt' WHERE `File` = 'readme.txt'"},
    {L"UPDATE `File` SET `FileName` = '..' WHERE `File` = 'readme.txt'"},
    {L"UPDATE `Directory` SET `DefaultDir` = '..' WHERE `Directory` = 'INSTALLDIR'"},
    {L"UPDATE `Directory` SET `DefaultDir` = 'up|../../..' WHERE `Directory` = 'INSTALLDIR'"},
};

class EscapingPackage : public ::testing::TestWithParam<const wchar_t*> {};

TEST_P(EscapingPackage, IsNotInstalled) {
  msi_test::ScopedEngineHome home;
  msi_test::ScratchCopy copy(L"plain.msi");
  fs::copy_file(fs::path(msi_test::PackagePath(L"heron.cab")), copy.folder() / "heron.cab");
  {
    installer::msi_wrapper::UniqueMsiHandle database, view;
    ASSERT_EQ(MsiOpenDatabaseW(copy.path().c_str(), MSIDBOPEN_TRANSACT, database.receive()), ERROR_SUCCESS);
    ASSERT_EQ(MsiDatabaseOpenViewW(database.get(), GetParam(), view.receive()), ERROR_SUCCESS);
    EXPECT_EQ(MsiViewExecute(view.get(), 0), ERROR_SUCCESS);
    EXPECT_EQ(MsiDatabaseCommit(database.get()), ERROR_SUCCESS);
  }
  const std::wstring command_line = L"ADDLOCAL=ALL VendorDir=" + (copy.folder() / "a" / "b").wstring();
  EXPECT_EQ(MsiInstallProductW(copy.path().c_str(), command_line.c_str()), ERROR_INSTALL_PACKAGE_INVALID);
  EXPECT_FALSE(fs::exists(copy.folder() / "a")) << "nothing is written";
  EXPECT_FALSE(fs::exists(copy.folder() / "escape.txt"));
}

INSTANTIATE_TEST_SUITE_P(FileAndFolderNames, EscapingPackage, ::testing::ValuesIn(kEscapingNames));

}  // namespace
