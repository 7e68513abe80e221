// The process-wide pool that runs asynchronous method calls: one thread per
// task, at most kMaxRunning at once, started in submission order.
//
// The pool is created on first use and never destroyed: tasks still running
// when the process exits keep running until the process ends, and never find
// the pool's state freed under them; nothing at exit waits for a task.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace electron::node_interop::helpers {

class ExceptionListener {
 public:
  virtual ~ExceptionListener() = default;
  virtual void onException(std::exception_ptr error) = 0;
};

// Receives what tasks throw and hands it to its listeners, in registration order.
class ExceptionManager {
 public:
  void addListener(std::shared_ptr<ExceptionListener> listener);
  void notify(std::exception_ptr error);

 private:
  std::mutex mutex_;
  std::vector<std::shared_ptr<ExceptionListener>> listeners_;
};

class ThreadPool {
 public:
  static constexpr std::size_t kMaxRunning = 20;

  static ThreadPool& instance();

  // Queues a task; returns at once. A std::exception the task throws goes to
  // the exception manager.
  void push(std::function<void()> task);

  ExceptionManager& exceptionManager() { return *exceptionManager_; }

  ThreadPool(const ThreadPool&) = delete;
  ThreadPool& operator=(const ThreadPool&) = delete;

 private:
  struct Thread {
    std::function<void()> task;
    std::thread thread;    // not joinable while queued
    bool started = false;  // guarded by the pool's mutex
    bool finished = false;
  };

  ThreadPool();
  void manage();
  void schedule();  // with mutex_ held
  void run(const std::shared_ptr<Thread>& entry);

  std::shared_ptr<ExceptionManager> exceptionManager_;
  std::mutex mutex_;
  std::condition_variable wakeup_;
  bool pending_ = false;
  std::vector<std::shared_ptr<Thread>> threads_;  // in submission order
  std::thread manager_;
};

}  // namespace electron::node_interop::helpers
