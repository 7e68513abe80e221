// The next engine call rolls a killed install back and completes a killed removal. Each kill hits a
// forked child: from its UI handler at chosen messages, or from here at points in time (KillSweep).
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

using Files = std::map<std::string, std::uintmax_t>;

// Path (relative to `folder`) and size of every file under it.
Files Snapshot(const fs::path& folder) {
  Files files;
  std::error_code error;
  for (auto it = fs::recursive_directory_iterator(folder, error); !error && it != fs::end(it); it.increment(error)) {
    if (it->is_regular_file()) files[fs::relative(it->path(), folder).string()] = it->file_size();
  }
  return files;
}

std::wstring g_kill_text;  // the child kills itself at the first message containing this

INT WINAPI KillingHandler(LPVOID, UINT, LPCWSTR text) {
  if (text && std::wstring(text).find(g_kill_text) != std::wstring::npos) raise(SIGKILL);
  return 0;
}

class KilledInstall : public ::testing::Test {
 protected:
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
    ASSERT_TRUE(WIFSIGNALED(status)) << "the child was not killed at \"" << ovra::Utf8FromWide(text) << "\"";
  }

  UINT Install() { return MsiInstallProductW(msi_test::PackagePath(L"plain.msi").c_str(), command_line_.c_str()); }
  UINT Remove() { return MsiConfigureProductExW(kProduct, 0, INSTALLSTATE_ABSENT, L""); }

  msi_test::ScopedEngineHome home_;
  const fs::path install_dir_ = home_.folder() / "target";
  const std::wstring command_line_ = L"ADDLOCAL=ALL INSTALLDIR=" + install_dir_.wstring();
};

TEST_F(KilledInstall, IsRolledBackByTheNextCallAtEachKillPoint) {
  // Mid-copy (one of two files written), after the copy, and just before the commit.
  for (const std::wstring point : {L"File: readme.txt", L"Action ended", L"InstallFinalize"}) {
    KillDuring(point, [&] { Install(); });
    EXPECT_EQ(MsiQueryProductStateW(kProduct), INSTALLSTATE_UNKNOWN);
    EXPECT_FALSE(fs::exists(install_dir_)) << "after a kill at " << ovra::Utf8FromWide(point);
    EXPECT_TRUE(Snapshot(home_.folder() / "packages").empty());
  }
  ASSERT_EQ(Install(), ERROR_SUCCESS);  // what installing again leaves: KillSweep
  ASSERT_EQ(Remove(), ERROR_SUCCESS);
}

TEST_F(KilledInstall, RemovalIsCompletedByTheNextCall) {
  ASSERT_EQ(Install(), ERROR_SUCCESS);
  KillDuring(L"File: readme.txt", [&] { Remove(); });
  EXPECT_EQ(MsiQueryProductStateW(kProduct), INSTALLSTATE_UNKNOWN);
  EXPECT_FALSE(fs::exists(install_dir_));
  EXPECT_TRUE(Snapshot(home_.folder() / "packages").empty());
  EXPECT_TRUE(Snapshot(home_.folder() / "backup").empty());
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

// Shared with the child: the last action or action data it saw, and how long its install took.
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

// What the engine calls after one kill found.
struct Kill {
  std::string where;  // the delay and the last message before the kill
  INSTALLSTATE state;
  Files files, drive;     // the install folder and the drive, after the next call
  std::size_t leftovers;  // files in the state folder's packages and backup folders
  UINT reinstall;
  Files reinstalled, after_removal;
};

// Installs of kill.msi in children SIGKILLed at INSTALLER_VESK_KILL_POINTS (10) points in time
// over an install, run once; each test checks one rule over every kill.
class KillSweep : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    home_ = std::make_unique<msi_test::ScopedEngineHome>();
    Run();
  }

  static void TearDownTestSuite() { home_.reset(), kills_.clear(); }

  static fs::path InstallDir() { return home_->folder() / "target"; }
  static fs::path Drive() { return home_->folder() / "drive"; }
  static UINT Install() {
    const std::wstring command_line = L"ADDLOCAL=ALL INSTALLDIR=" + InstallDir().wstring();
    return MsiInstallProductW(msi_test::PackagePath(L"kill.msi").c_str(), command_line.c_str());
  }

  static UINT Remove() { return MsiConfigureProductExW(kBulk, 0, INSTALLSTATE_ABSENT, L""); }
  // Installs in a child SIGKILLed `delay` after its start (none: left to finish); returns
  // how long the install took, 0 when the kill came first.
  static std::chrono::microseconds RunInstall(ChildReport& report, const std::chrono::microseconds* delay) {
    int go[2];
    EXPECT_EQ(pipe(go), 0);
    std::memset(&report, 0, sizeof report);
    const pid_t child = fork();
    if (child == 0) {
      close(go[1]);
      char byte;
      if (read(go[0], &byte, 1) != 1) _exit(2);
      const auto started = std::chrono::steady_clock::now();
      MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
      MsiSetExternalUIW(RecordingHandler, ~0u, nullptr);
      const UINT result = Install();
      report.install_microseconds =
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
    return std::chrono::microseconds(report.install_microseconds);
  }

  static void Run() {
    void* mapping = mmap(nullptr, sizeof(ChildReport), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(mapping, MAP_FAILED);
    const std::unique_ptr<ChildReport, void (*)(ChildReport*)> report(
        static_cast<ChildReport*>(mapping), [](ChildReport* unmapped) { munmap(unmapped, sizeof *unmapped); });
    g_report = report.get();
    // Once here (the children inherit the package check's verdict), then three whole installs
    // in children: the shortest length, and what they leave.
    ASSERT_EQ(Install(), ERROR_SUCCESS);
    ASSERT_EQ(Remove(), ERROR_SUCCESS);
    removed_drive_ = Snapshot(Drive());
    for (int run = 0; run < 3; ++run) {
      length_ = std::min(length_, RunInstall(*report, nullptr));
      ASSERT_EQ(MsiQueryProductStateW(kBulk), INSTALLSTATE_DEFAULT);
      installed_files_ = Snapshot(InstallDir());
      installed_drive_ = Snapshot(Drive());
      ASSERT_EQ(Remove(), ERROR_SUCCESS);
    }
    ASSERT_FALSE(installed_files_.empty());
    const char* wanted = std::getenv("INSTALLER_VESK_KILL_POINTS");
    points_ = wanted && std::atoi(wanted) > 0 ? std::atoi(wanted) : 10;
    // A point whose install ends first is tried again over that shorter length (the machine sped up).
    for (int point = 0, attempt = 0; point < points_; ++attempt) {
      const auto delay = length_ * (2 * point + 1) / (2 * points_);
      const std::chrono::microseconds took = RunInstall(*report, &delay);
      const bool killed = took.count() == 0;
      if (killed || attempt == 2) {
        ++point;
        attempt = -1;
      } else {
        length_ = std::min(length_, took);
      }
      if (!killed) continue;
      Kill k{};
      k.where = std::to_string(delay.count()) + " us of " + std::to_string(length_.count()) + " us, after \"" +
                report->last_message + "\"";
      k.state = MsiQueryProductStateW(kBulk);  // the next call completes or rolls back what the kill left
      k.files = Snapshot(InstallDir()), k.drive = Snapshot(Drive());
      if (k.state == INSTALLSTATE_DEFAULT) {
        ASSERT_EQ(Remove(), ERROR_SUCCESS) << k.where;
      }
      k.leftovers = Snapshot(home_->folder() / "packages").size() + Snapshot(home_->folder() / "backup").size();
      k.reinstall = Install();
      k.reinstalled = Snapshot(InstallDir());
      ASSERT_EQ(Remove(), ERROR_SUCCESS) << k.where;
      k.after_removal = Snapshot(InstallDir());
      kills_.push_back(std::move(k));
    }
  }

  static inline std::unique_ptr<msi_test::ScopedEngineHome> home_;
  static inline std::chrono::microseconds length_ = std::chrono::microseconds::max();
  static inline int points_ = 0;
  static inline Files installed_files_, installed_drive_, removed_drive_;
  static inline std::vector<Kill> kills_;
};

TEST_F(KillSweep, MostKillsLandInsideTheInstall) {
  std::set<std::string> landed;
  std::size_t completed = 0;
  for (const Kill& k : kills_) {
    landed.insert(k.where.substr(k.where.find("after")));
    completed += k.state == INSTALLSTATE_DEFAULT;
  }
  EXPECT_GE(kills_.size(), static_cast<std::size_t>(points_ / 2))
      << "only " << kills_.size() << " of " << points_ << " kills hit the install";
  std::printf("[ kill test ] %d points over %lld us: %zu kills hit the install (%zu found it complete), after %zu "
              "distinct messages\n",
              points_, static_cast<long long>(length_.count()), kills_.size(), completed, landed.size());
}

TEST_F(KillSweep, AnInstallIsFoundWholeOrNotAtAll) {
  for (const Kill& k : kills_) {
    const bool registered = k.state == INSTALLSTATE_DEFAULT;
    EXPECT_TRUE(registered || k.state == INSTALLSTATE_UNKNOWN) << k.where;
    EXPECT_EQ(k.files, registered ? installed_files_ : Files{}) << "registered: " << registered << ", " << k.where;
    EXPECT_EQ(k.drive, registered ? installed_drive_ : removed_drive_) << k.where;
  }
}

TEST_F(KillSweep, NothingJournalledStaysAndTheProductInstallsAgain) {
  for (const Kill& k : kills_) {
    EXPECT_EQ(k.leftovers, 0u) << k.where;
    EXPECT_EQ(k.reinstall, ERROR_SUCCESS) << "after a kill at " << k.where;
    EXPECT_EQ(k.reinstalled, installed_files_) << k.where;
    EXPECT_TRUE(k.after_removal.empty()) << k.where;
  }
}

}  // namespace
