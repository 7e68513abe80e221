// An installation or removal killed part way through leaves nothing half done:
// the next engine call rolls a killed install back and completes a killed
// removal. Each kill happens in a forked child: from inside its UI handler at
// chosen messages, or from this process at points in time spread over a whole
// install (INSTALLER_VESK_KILL_POINTS of them, 10 by default).
#include <gtest/gtest.h>
#include <msi.h>
#include <msiquery.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <thread>

#include "ovra/strings.h"
#include "test_packages.h"

namespace {

namespace fs = std::filesystem;

const wchar_t kProduct[] = L"{3C0F5D2E-8B4A-4E61-9A7D-2F1B6C8E4A10}";  // plain.msi
const wchar_t kBulk[] = L"{2B8E4F61-7C3A-4D59-A1E2-6F0B9C8D7E15}";  // kill.msi (and bulk.msi)

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

  UINT Install(const std::wstring& package = msi_test::PackagePath(L"plain.msi")) {
    return MsiInstallProductW(package.c_str(), command_line_.c_str());
  }
  UINT Remove() { return MsiConfigureProductExW(kProduct, 0, INSTALLSTATE_ABSENT, L""); }

  // Path (relative to `folder`) and size of every file under it.
  static std::map<std::string, std::uintmax_t> Snapshot(const fs::path& folder) {
    std::map<std::string, std::uintmax_t> files;
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(folder, error); !error && it != fs::end(it); it.increment(error)) {
      if (it->is_regular_file()) files[fs::relative(it->path(), folder).string()] = it->file_size();
    }
    return files;
  }

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

// What the child tells this process, in memory they share: the last action or
// action data its handler saw (where a kill landed), and how long its install took.
struct ChildReport {
  char last_message[120];
  long long install_microseconds;  // 0 until the install has returned
};
ChildReport* g_report = nullptr;

INT WINAPI RecordingHandler(LPVOID, UINT type, LPCWSTR text) {
  const UINT kind = type & 0xFF000000u;
  if ((kind == INSTALLMESSAGE_ACTIONSTART || kind == INSTALLMESSAGE_ACTIONDATA) && text) {
    std::strncpy(g_report->last_message, ovra::Utf8FromWide(text).c_str(), sizeof g_report->last_message - 1);
  }
  return 0;
}

int KillPointsWanted() {
  const char* value = std::getenv("INSTALLER_VESK_KILL_POINTS");
  const int points = value ? std::atoi(value) : 0;
  return points > 0 ? points : 10;
}

TEST_F(KilledInstall, AtPointsSpreadOverTheInstallLeavesAllOrNothing) {
  const std::wstring package = msi_test::PackagePath(L"kill.msi");
  const fs::path drive = home_.folder() / "drive";
  void* mapping = mmap(nullptr, sizeof(ChildReport), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(mapping, MAP_FAILED);
  const std::unique_ptr<ChildReport, void (*)(ChildReport*)> report(
      static_cast<ChildReport*>(mapping), [](ChildReport* unmapped) { munmap(unmapped, sizeof *unmapped); });
  ChildReport* const shared = report.get();
  g_report = shared;

  // Runs the install in a child, SIGKILLed `delay` after its start, or left to finish
  // when `delay` is null. Returns how long its install took (0 when the kill came first).
  const auto run_install = [&](const std::chrono::microseconds* delay) {
    int go[2];
    EXPECT_EQ(pipe(go), 0);
    std::memset(shared, 0, sizeof *shared);
    const pid_t child = fork();
    if (child == 0) {
      close(go[1]);
      char byte;
      if (read(go[0], &byte, 1) != 1) _exit(2);
      const auto started = std::chrono::steady_clock::now();
      MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
      MsiSetExternalUIW(RecordingHandler, ~0u, nullptr);
      const UINT result = Install(package);
      shared->install_microseconds =
          std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - started).count();
      _exit(result == ERROR_SUCCESS ? 0 : 1);
    }
    close(go[0]);
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(write(go[1], "g", 1), 1);
    close(go[1]);
    if (delay) {
      std::this_thread::sleep_until(started + *delay);
      kill(child, SIGKILL);
    }
    int status = 0;
    EXPECT_EQ(waitpid(child, &status, 0), child);
    if (WIFEXITED(status)) {
      EXPECT_EQ(WEXITSTATUS(status), 0) << "an install that was not killed failed";
    }
    return std::chrono::microseconds(shared->install_microseconds);
  };

  // Once here (the children inherit the package check's verdict), then whole
  // installs in children: their length (the shortest of three), and what they leave.
  ASSERT_EQ(Install(package), ERROR_SUCCESS);
  ASSERT_EQ(MsiConfigureProductExW(kBulk, 0, INSTALLSTATE_ABSENT, L""), ERROR_SUCCESS);
  const auto removed_drive = Snapshot(drive);
  std::chrono::microseconds length = std::chrono::microseconds::max();
  std::map<std::string, std::uintmax_t> installed_files, installed_drive;
  for (int run = 0; run < 3; ++run) {
    length = std::min(length, run_install(nullptr));
    ASSERT_EQ(MsiQueryProductStateW(kBulk), INSTALLSTATE_DEFAULT);
    installed_files = Snapshot(install_dir_);
    installed_drive = Snapshot(drive);
    ASSERT_EQ(MsiConfigureProductExW(kBulk, 0, INSTALLSTATE_ABSENT, L""), ERROR_SUCCESS);
  }
  ASSERT_FALSE(installed_files.empty());

  const int points = KillPointsWanted();
  int kills = 0, completed = 0;
  std::set<std::string> landed;  // the last message before each kill
  // A point whose install ends before the kill is tried again, spread over that
  // install's shorter length (the machine may have sped up since it was measured).
  for (int point = 0, attempt = 0; point < points; ++attempt) {
    const auto delay = length * (2 * point + 1) / (2 * points);
    const std::chrono::microseconds took = run_install(&delay);
    const bool killed = took.count() == 0;
    kills += killed;
    if (killed || attempt == 2) {
      ++point;
      attempt = -1;
    } else {
      length = std::min(length, took);
    }
    const std::string where = std::to_string(delay.count()) + " us of " + std::to_string(length.count()) +
                              " us, after \"" + shared->last_message + "\"";
    if (killed) landed.insert(shared->last_message);
    // The next call completes or rolls back what the kill left.
    const INSTALLSTATE state = MsiQueryProductStateW(kBulk);
    if (state == INSTALLSTATE_DEFAULT) {
      completed += killed;
      EXPECT_EQ(Snapshot(install_dir_), installed_files) << "registered, but not all there: killed at " << where;
      EXPECT_EQ(Snapshot(drive), installed_drive) << where;
      ASSERT_EQ(MsiConfigureProductExW(kBulk, 0, INSTALLSTATE_ABSENT, L""), ERROR_SUCCESS) << where;
    } else {
      EXPECT_EQ(state, INSTALLSTATE_UNKNOWN) << where;
      EXPECT_EQ(FilesUnder(install_dir_), 0u) << "not registered, but files left: killed at " << where;
      EXPECT_EQ(Snapshot(drive), removed_drive) << where;
    }
    EXPECT_EQ(FilesUnder(home_.folder() / "packages"), 0u) << where;
    EXPECT_EQ(FilesUnder(home_.folder() / "backup"), 0u) << where;
    // And the product installs and goes again.
    ASSERT_EQ(Install(package), ERROR_SUCCESS) << "after a kill at " << where;
    EXPECT_EQ(Snapshot(install_dir_), installed_files) << where;
    ASSERT_EQ(MsiConfigureProductExW(kBulk, 0, INSTALLSTATE_ABSENT, L""), ERROR_SUCCESS) << where;
    EXPECT_EQ(FilesUnder(install_dir_), 0u) << where;
  }
  EXPECT_GE(kills, points / 2) << "only " << kills << " of " << points << " kills hit the install";
  std::printf(
      "[ kill test ] %d points over %lld us: %d kills hit the install (%d found it complete, %d rolled back), after %zu "
      "distinct actions or files\n",
      points, static_cast<long long>(length.count()), kills, completed, kills - completed, landed.size());
}

}  // namespace
