// The worker pool when a worker thread cannot be started.
#include "installer_vesk/bridge/thread_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <system_error>
#include <thread>

namespace electron::node_interop::helpers {
namespace {

using namespace std::chrono_literals;

class SignallingTask final : public PoolTask {
 public:
  explicit SignallingTask(std::shared_future<void> gate = {}) : gate_(std::move(gate)) {}
  void run() override {
    if (gate_.valid()) gate_.wait();
    ran_.set_value();
  }
  bool ranWithin(std::chrono::milliseconds timeout) { return done_.wait_for(timeout) == std::future_status::ready; }

 private:
  std::shared_future<void> gate_;
  std::promise<void> ran_;
  std::future<void> done_ = ran_.get_future();
};

void NeverStarts(std::function<void()>) { throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again)); }

std::atomic<int> startsAllowed{0};
void StartsWhileAllowed(std::function<void()> work) {
  if (startsAllowed.fetch_sub(1) <= 0) NeverStarts(work);
  std::thread(std::move(work)).detach();
}

// Pools are never destroyed (their workers may still wait on them).
TEST(ThreadPoolTest, WithoutAWorkerATaskIsRefusedNotQueuedForever) {
  static ThreadPool* const pool = new ThreadPool(NeverStarts);
  SignallingTask task;
  EXPECT_THROW(pool->push(task), std::system_error);
}

TEST(ThreadPoolTest, ATaskWhoseWorkerCannotStartRunsOnAnotherOne) {
  startsAllowed = 1;
  static ThreadPool* const pool = new ThreadPool(StartsWhileAllowed);
  // Static: the workers may still use them if the test fails.
  static std::promise<void> open;
  static SignallingTask blocking(open.get_future().share());
  static SignallingTask waiting;
  pool->push(blocking);
  ASSERT_NO_THROW(pool->push(waiting));
  EXPECT_FALSE(waiting.ranWithin(50ms));
  open.set_value();
  EXPECT_TRUE(blocking.ranWithin(10s));
  EXPECT_TRUE(waiting.ranWithin(10s));
}

}  // namespace
}  // namespace electron::node_interop::helpers
