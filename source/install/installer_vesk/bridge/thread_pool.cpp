#include "installer_vesk/bridge/thread_pool.h"

#include <system_error>
#include <thread>

namespace electron::node_interop::helpers {

void ExceptionManager::addListener(std::shared_ptr<ExceptionListener> listener) {
  std::lock_guard<std::mutex> lock(mutex_);
  listeners_.push_back(std::move(listener));
}

void ExceptionManager::notify(std::exception_ptr error) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const auto& listener : listeners_) listener->onException(error);
}

namespace {

void StartDetachedThread(std::function<void()> work) { std::thread(std::move(work)).detach(); }

}  // namespace

ThreadPool& ThreadPool::instance() {
  static ThreadPool* const pool = new ThreadPool(StartDetachedThread);  // never destroyed, see the header
  return *pool;
}

ThreadPool::ThreadPool(WorkerStarter startWorker) : startWorker_(startWorker) {}

void ThreadPool::push(PoolTask& task) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    // Each idle (or starting) worker takes one queued task; more tasks need more workers.
    if (queued_ + 1 > idle_ && workers_ < kMaxRunning) {
      try {
        startWorker_([this] { work(); });
        ++workers_;
        ++idle_;
      } catch (const std::system_error&) {
        if (workers_ == 0) throw;  // nothing would ever run the task
      }
    }
    task.next_ = nullptr;
    (tail_ != nullptr ? tail_->next_ : head_) = &task;
    tail_ = &task;
    ++queued_;
  }
  queued_signal_.notify_one();
}

void ThreadPool::work() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    queued_signal_.wait(lock, [this] { return head_ != nullptr; });
    PoolTask* task = head_;
    head_ = task->next_;
    if (head_ == nullptr) tail_ = nullptr;
    --queued_;
    --idle_;
    lock.unlock();
    try {
      task->run();  // may free the task
    } catch (...) {
      try {
        exceptionManager_.notify(std::current_exception());
      } catch (...) {
        // A listener that throws loses its report; the worker goes on.
      }
    }
    lock.lock();
    ++idle_;
  }
}

}  // namespace electron::node_interop::helpers
