// The process-wide pool that runs asynchronous method calls: at most kMaxRunning
// worker threads, each taking queued tasks one at a time in submission order.
// Workers are started on demand (when a task is queued and none is idle) and
// then kept, waiting for the next task, as libuv's own pool does.
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

// A unit of work. The pool does not own it: run() decides what becomes of it.
class PoolTask {
 public:
  virtual void run() = 0;

 protected:
  ~PoolTask() = default;

 private:
  friend class ThreadPool;
  PoolTask* next_ = nullptr;  // the pool's queue
};

class ThreadPool {
 public:
  static constexpr std::size_t kMaxRunning = 20;
  // Starts a thread that runs `work`, or throws std::system_error.
  using WorkerStarter = void (*)(std::function<void()> work);

  static ThreadPool& instance();

  // The process-wide pool uses detached std::threads; tests may start workers
  // their own way. A pool whose workers run must never be destroyed.
  explicit ThreadPool(WorkerStarter startWorker);

  // Queues a task; returns at once. What the task throws goes to the exception
  // manager. Throws std::system_error, and queues nothing, when the pool has no
  // worker and cannot start one; with at least one worker the task waits for it.
  void push(PoolTask& task);

  ExceptionManager& exceptionManager() { return exceptionManager_; }

  ThreadPool(const ThreadPool&) = delete;
  ThreadPool& operator=(const ThreadPool&) = delete;

 private:
  void work();

  const WorkerStarter startWorker_;
  ExceptionManager exceptionManager_;
  std::mutex mutex_;
  std::condition_variable queued_signal_;
  PoolTask* head_ = nullptr;  // the queue, oldest first
  PoolTask* tail_ = nullptr;
  std::size_t queued_ = 0;
  std::size_t workers_ = 0;
  std::size_t idle_ = 0;  // workers waiting for a task
};

}  // namespace electron::node_interop::helpers
