#include "installer_vesk/bridge/thread_pool.h"

#include <algorithm>
#include <stdexcept>

namespace electron::node_interop::helpers {

void ExceptionManager::addListener(std::shared_ptr<ExceptionListener> listener) {
  std::lock_guard<std::mutex> lock(mutex_);
  listeners_.push_back(std::move(listener));
}

void ExceptionManager::notify(std::exception_ptr error) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const auto& listener : listeners_) listener->onException(error);
}

ThreadPool& ThreadPool::instance() {
  static ThreadPool* const pool = new ThreadPool();  // never destroyed, see the header
  return *pool;
}

ThreadPool::ThreadPool()
    : exceptionManager_(std::make_shared<ExceptionManager>()), manager_([this] { manage(); }) {}

void ThreadPool::push(std::function<void()> task) {
  auto entry = std::make_shared<Thread>();
  entry->task = std::move(task);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    threads_.push_back(std::move(entry));
    pending_ = true;
  }
  wakeup_.notify_one();
}

void ThreadPool::manage() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    wakeup_.wait(lock, [this] { return pending_; });
    pending_ = false;
    try {
      schedule();
    } catch (const std::exception&) {
      exceptionManager_->notify(std::current_exception());
    }
  }
}

void ThreadPool::schedule() {
  // Finished threads have only their return left to do: joining them is brief.
  auto finished = std::stable_partition(threads_.begin(), threads_.end(),
                                        [](const auto& entry) { return !entry->finished; });
  for (auto it = finished; it != threads_.end(); ++it) (*it)->thread.join();
  threads_.erase(finished, threads_.end());

  std::size_t running = std::count_if(threads_.begin(), threads_.end(),
                                      [](const auto& entry) { return entry->started; });
  for (const auto& entry : threads_) {
    if (running >= kMaxRunning) break;
    if (entry->started) continue;
    entry->started = true;
    entry->thread = std::thread([this, entry] { run(entry); });
    ++running;
  }
}

void ThreadPool::run(const std::shared_ptr<Thread>& entry) {
  try {
    entry->task();
  } catch (...) {
    exceptionManager_->notify(std::current_exception());
  }
  entry->task = nullptr;  // release what the task captured before the slot frees up
  {
    std::lock_guard<std::mutex> lock(mutex_);
    entry->finished = true;
    pending_ = true;
  }
  wakeup_.notify_one();
}

}  // namespace electron::node_interop::helpers
