// The setup manager released while a task runs; a start from inside a progress
// report is checked from script (test/script/setup_flow.test.js).
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <mutex>
#include <thread>

#include "installer_vesk/msi_setup_manager.h"
#include "test_packages.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

const wchar_t kBulkProduct[] = L"{2B8E4F61-7C3A-4D59-A1E2-6F0B9C8D7E15}";

class Sink : public ovra::SimpleObjectBase<ovra::NoServiceStrategy, installer::IProgressCallback> {
 public:
  ovra::result_t progressChanged(const installer::ProgressData&) override {
    std::call_once(first_, [this] { progressed.set_value(); });
    return 0;
  }
  ovra::result_t completed(std::int32_t code) override {
    done.set_value(code);
    return 0;
  }
  std::promise<void> progressed;
  std::promise<std::int32_t> done;

 private:
  std::once_flag first_;
};

TEST(SetupManager, ReleasedDuringARunWaitsForNothingAndIsFreedWithTheTask) {
  msi_test::ScopedEngineHome home;
  const fs::path previous = fs::current_path();
  fs::current_path(home.folder());
  fs::copy_file(fs::path(msi_test::PackagePath(L"bulk.msi")),
                home.folder() / installer::msi_wrapper::DefaultMsiFileName);
  fs::copy_file(fs::path(msi_test::PackagePath(L"bulk.cab")), home.folder() / "bulk.cab");

  std::shared_ptr<MsiSetupManager> manager = MsiSetupManager::instance();
  auto sink = ovra::MakeObject<Sink>();
  auto progressed = sink->progressed.get_future();
  auto done = sink->done.get_future();
  ASSERT_EQ(0, manager->runSetupTask(L"", ovra::objptr_t<installer::IProgressCallback>(sink)));
  ASSERT_EQ(std::future_status::ready, progressed.wait_for(std::chrono::minutes(2)));

  const auto start = Clock::now();
  MsiSetupManager::releaseInstance();
  std::weak_ptr<MsiSetupManager> released = manager;
  EXPECT_NE(manager, MsiSetupManager::instance());
  MsiSetupManager::releaseInstance();
  EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(500));

  ASSERT_EQ(std::future_status::ready, done.wait_for(std::chrono::minutes(5)));
  EXPECT_EQ(0, done.get());
  manager.reset();
  const auto deadline = Clock::now() + std::chrono::seconds(10);
  while (!released.expired() && Clock::now() < deadline) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_TRUE(released.expired()) << "the task let go of its manager";

  EXPECT_EQ(static_cast<UINT>(ERROR_SUCCESS), MsiConfigureProductExW(kBulkProduct, 0, INSTALLSTATE_ABSENT, L""));
  fs::current_path(previous);
}

}  // namespace
