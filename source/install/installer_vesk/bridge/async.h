// Asynchronous method calls: the bound native call runs on a ThreadPool worker
// and its result reaches the script callback once, on the loop thread.
//
// Each call carries its result to the loop thread through its own Node-API
// thread-safe function, which also keeps the process alive while the call is
// pending and gives the callback the async context of the call. A task that
// throws delivers an Error with the exception's text instead of a result.
#pragma once

#include <napi.h>

#include <atomic>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

#include "installer_vesk/bridge/converters.h"
#include "installer_vesk/bridge/thread_pool.h"

namespace electron::node_interop::v8_helpers::async {

// Text of a failed task, as a synchronous call would have thrown it.
std::string DescribeException(std::exception_ptr error);

// One call on its way: owned jointly by the worker that runs it and by its
// thread-safe function, and freed when both are done with it.
class AsyncCall : public helpers::PoolTask {
 public:
  // Loop thread: binds `callback` and queues the call. Throws, and the call is
  // gone, when it cannot be queued.
  static void Start(std::unique_ptr<AsyncCall> call, Napi::Env env, Napi::Function callback);

  virtual ~AsyncCall() = default;

 protected:
  AsyncCall() = default;

  // Worker thread: runs the task and keeps its result; may throw.
  virtual void execute() = 0;
  // Loop thread: the result as a script value.
  virtual Napi::Value result(Napi::Env env) = 0;

 private:
  void run() final;
  void releaseShare();
  static void CallJs(napi_env env, napi_value callback, void* context, void* data);
  static void Finalize(napi_env env, void* data, void* hint);

  std::exception_ptr error_;
  napi_threadsafe_function function_ = nullptr;
  std::mutex mutex_;     // guards `closed_` and every use of `function_` off the loop thread
  bool closed_ = false;  // the environment finalized the function
  std::atomic<int> shares_{2};  // the worker's and the function's
};

template <typename R, typename Task>
class TypedAsyncCall final : public AsyncCall {
 public:
  explicit TypedAsyncCall(Task task) : task_(std::move(task)) {}

 private:
  void execute() override {
    // What the task captured is released on the worker, as soon as it is done.
    struct ReleaseTask {
      std::optional<Task>& task;
      ~ReleaseTask() { task.reset(); }
    } release{task_};
    result_ = (*task_)();
  }
  Napi::Value result(Napi::Env env) override { return type_converters::Converter<R>::ToScript(env, result_); }

  std::optional<Task> task_;
  R result_{};
};

// Runs `task` (returning R) on the pool; `callback` later receives its result.
template <typename R, typename Task>
void Submit(Task task, Napi::Function callback) {
  AsyncCall::Start(std::make_unique<TypedAsyncCall<R, Task>>(std::move(task)), callback.Env(), callback);
}

}  // namespace electron::node_interop::v8_helpers::async
