// An installation or removal killed part way through leaves nothing half done:
// the next engine call rolls a killed install back and completes a killed
// removal. Each kill happens in a forked child, from inside its UI handler.
#include <gtest/gtest.h>
#include <msi.h>
#include <msiquery.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "test_packages.h"

namespace {

namespace fs = std::filesystem;

const wchar_t kProduct[] = L"{3C0F5D2E-8B4A-4E61-9A7D-2F1B6C8E4A10}";  // plain.msi

std::wstring g_kill_text;  // the child kills itself at the first message containing this

INT WINAPI KillingHandler(LPVOID, UINT, LPCWSTR text) {
  if (text && std::wstring(text).find(g_kill_text) != std::wstring::npos) {
    raise(SIGKILL);
  }
  return 0;
}

class KilledInstall : public ::testing::Test {
 protected:
  void SetUp() override {
    install_dir_ = home_.folder() / "target";
    command_line_ = L"ADDLOCAL=ALL INSTALLDIR=" + install_dir_.wstring();
  }
  void TearDown() override { MsiSetExternalUIW(nullptr, 0, nullptr); }

  // Runs `operation` in a child that dies at the first message containing `text`.
  template <typename Operation>
  void KillDuring(const std::wstring& text, Operation operation) {
    const pid_t child = fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
      g_kill_text = text;
      MsiSetExternalUIW(KillingHandler, ~0u, nullptr);
      operation();
      _exit(0);  // not reached when the kill point is met
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the child was not killed at \"" << std::string(text.begin(), text.end())
                                     << "\"";
  }

  UINT Install() { return MsiInstallProductW(msi_test::PackagePath(L"plain.msi").c_str(), command_line_.c_str()); }
  UINT Remove() { return MsiConfigureProductExW(kProduct, 0, INSTALLSTATE_ABSENT, L""); }

  std::size_t FilesUnder(const fs::path& folder) const {
    std::size_t count = 0;
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(folder, error); !error && it != fs::end(it); ++it) {
      count += it->is_regular_file() ? 1 : 0;
    }
    return count;
  }

  msi_test::ScopedEngineHome home_;
  fs::path install_dir_;
  std::wstring command_line_;
};

TEST_F(KilledInstall, IsRolledBackByTheNextCallAtEachKillPoint) {
  // Mid-copy (one of two files written), after the copy, and just before the commit.
  for (const std::wstring point : {L"File: readme.txt", L"Action ended", L"InstallFinalize"}) {
    KillDuring(point, [&] { Install(); });
    EXPECT_EQ(MsiQueryProductStateW(kProduct), INSTALLSTATE_UNKNOWN);
    EXPECT_EQ(FilesUnder(install_dir_), 0u) << "after a kill at " << std::string(point.begin(), point.end());
    EXPECT_FALSE(fs::exists(install_dir_));
    EXPECT_EQ(FilesUnder(home_.folder() / "packages"), 0u);
  }
  ASSERT_EQ(Install(), ERROR_SUCCESS);
  EXPECT_EQ(FilesUnder(install_dir_), 2u);
  ASSERT_EQ(Remove(), ERROR_SUCCESS);
  EXPECT_FALSE(fs::exists(install_dir_));
  EXPECT_EQ(MsiQueryProductStateW(kProduct), INSTALLSTATE_UNKNOWN);
}

TEST_F(KilledInstall, RemovalIsCompletedByTheNextCall) {
  ASSERT_EQ(Install(), ERROR_SUCCESS);
  KillDuring(L"File: readme.txt", [&] { Remove(); });
  EXPECT_EQ(MsiQueryProductStateW(kProduct), INSTALLSTATE_UNKNOWN);
  EXPECT_FALSE(fs::exists(install_dir_));
  EXPECT_EQ(FilesUnder(home_.folder() / "packages"), 0u);
  EXPECT_EQ(FilesUnder(home_.folder() / "backup"), 0u);
  ASSERT_EQ(Install(), ERROR_SUCCESS);
  ASSERT_EQ(Remove(), ERROR_SUCCESS);
}

INT WINAPI NestedInstallHandler(LPVOID result, UINT type, LPCWSTR) {
  if ((type & 0xFF000000u) == INSTALLMESSAGE_INITIALIZE) {
    *static_cast<UINT*>(result) = MsiInstallProductW(msi_test::PackagePath(L"plain.msi").c_str(), L"");
  }
  return 0;
}

TEST_F(KilledInstall, SecondInstallOfTheStateFolderGets1618AtOnce) {
  UINT nested = 0;
  MsiSetExternalUIW(NestedInstallHandler, INSTALLLOGMODE_INITIALIZE, &nested);
  ASSERT_EQ(Install(), ERROR_SUCCESS);
  EXPECT_EQ(nested, ERROR_INSTALL_ALREADY_RUNNING);
  MsiSetExternalUIW(nullptr, 0, nullptr);
  ASSERT_EQ(Remove(), ERROR_SUCCESS);
}

}  // namespace
