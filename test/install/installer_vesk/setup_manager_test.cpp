// Task handling of the setup manager that script cannot easily provoke: a start
// made from inside a progress report, and the instance released while a task runs.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

#include "installer_vesk/msi_setup_manager.h"
#include "test_packages.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

const wchar_t kBulkProduct[] = L"{2B8E4F61-7C3A-4D59-A1E2-6F0B9C8D7E15}";

// A progress sink that records what reaches it and can act on the first report.
class Sink : public ovra::SimpleObjectBase<ovra::NoServiceStrategy, installer::IProgressCallback> {
 public:
  std::function<void()> onFirstProgress;

  ovra::result_t progressChanged(const installer::ProgressData&) override {
    std::function<void()> action;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (++reports_ == 1) action = onFirstProgress;
    }
    signal_.notify_all();
    if (action) action();
    return 0;
  }
  ovra::result_t completed(std::int32_t code) override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      code_ = code;
    }
    signal_.notify_all();
    return 0;
  }

  bool WaitForProgress() {
    std::unique_lock<std::mutex> lock(mutex_);
    return signal_.wait_for(lock, std::chrono::minutes(2), [this] { return reports_ > 0 || code_; });
  }
  std::optional<std::int32_t> WaitForCompletion() {
    std::unique_lock<std::mutex> lock(mutex_);
    signal_.wait_for(lock, std::chrono::minutes(5), [this] { return code_.has_value(); });
    return code_;
  }
  int reports() {
    std::lock_guard<std::mutex> lock(mutex_);
    return reports_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable signal_;
  int reports_ = 0;
  std::optional<std::int32_t> code_;
};

TEST(SetupManager, StartsFromAReportAndReleasesDuringARunWithoutWaiting) {
  msi_test::ScopedEngineHome home;
  const fs::path previous = fs::current_path();
  fs::current_path(home.folder());
  for (const wchar_t* file : {L"bulk.msi", L"bulk.cab"}) {
    const fs::path target = file == std::wstring(L"bulk.msi")
                                ? home.folder() / installer::msi_wrapper::DefaultMsiFileName
                                : home.folder() / file;
    fs::copy_file(fs::path(msi_test::PackagePath(file)), target);
  }

  std::shared_ptr<MsiSetupManager> manager = MsiSetupManager::instance();
  auto install = ovra::MakeObject<Sink>();
  auto refused = ovra::MakeObject<Sink>();
  Clock::duration refused_start{};
  install->onFirstProgress = [&] {
    // On the relay thread, which the loop thread would be waiting for in a host.
    const auto start = Clock::now();
    EXPECT_EQ(0, manager->runSetupTask(L"", ovra::objptr_t<installer::IProgressCallback>(refused)));
    refused_start = Clock::now() - start;
  };
  ASSERT_EQ(0, manager->runSetupTask(L"", ovra::objptr_t<installer::IProgressCallback>(install)));
  ASSERT_TRUE(install->WaitForProgress());

  // Released by every holder but the running task: nothing waits for the task.
  const auto start = Clock::now();
  MsiSetupManager::releaseInstance();
  std::weak_ptr<MsiSetupManager> released = manager;
  EXPECT_NE(manager, MsiSetupManager::instance());
  MsiSetupManager::releaseInstance();
  EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(500));

  EXPECT_EQ(std::optional<std::int32_t>(0), install->WaitForCompletion());
  EXPECT_EQ(std::optional<std::int32_t>(1618), refused->WaitForCompletion());
  EXPECT_EQ(0, refused->reports());
  EXPECT_LT(refused_start, std::chrono::milliseconds(500));

  manager.reset();
  const auto deadline = Clock::now() + std::chrono::seconds(10);
  while (!released.expired() && Clock::now() < deadline) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_TRUE(released.expired()) << "the task let go of its manager";

  EXPECT_EQ(static_cast<UINT>(ERROR_SUCCESS), MsiConfigureProductExW(kBulkProduct, 0, INSTALLSTATE_ABSENT, L""));
  fs::current_path(previous);
}

}  // namespace
