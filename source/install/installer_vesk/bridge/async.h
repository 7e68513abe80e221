// Asynchronous method calls: the bound native call runs on a ThreadPool thread
// and its result reaches the script callback once, on the loop thread.
//
// Each call is a CallbackProcessor, kept by the CallbackPool of its result type
// until it is done; its result is carried to the loop thread by a Node-API
// thread-safe function, which also keeps the process alive while the call is
// pending. A task that throws delivers an Error with the exception's text
// instead of a result. A sweeper thread per result type drops done calls.
#pragma once

#include <napi.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "installer_vesk/bridge/converters.h"
#include "installer_vesk/bridge/errors.h"
#include "installer_vesk/bridge/thread_pool.h"

namespace electron::node_interop::v8_helpers::async {

// Text of a failed task, as a synchronous call would have thrown it.
std::string DescribeException(std::exception_ptr error);

template <typename T>
class CallbackProcessor {
 public:
  explicit CallbackProcessor(std::function<T()> task) : task_(std::move(task)) {}

  // Loop thread: creates the thread-safe function that will call `callback`.
  void bind(Napi::Env env, Napi::Function callback) {
    napi_status status = napi_create_threadsafe_function(
        env, callback, nullptr, Napi::String::New(env, "installer_vesk async call"), 0, 1, this, Finalize,
        this, CallJs, &function_);
    if (status != napi_ok) throw std::runtime_error("Failed to initialize async call with error " +
                                                    std::to_string(status));
  }

  // Worker thread: runs the task and sends its outcome to the loop thread.
  void run() {
    try {
      result_ = task_();
    } catch (...) {
      error_ = std::current_exception();
      helpers::ThreadPool::instance().exceptionManager().notify(error_);
    }
    task_ = nullptr;
    std::lock_guard<std::mutex> lock(mutex_);
    // Once the environment has closed the function it must not be touched.
    if (closed_) return;
    napi_call_threadsafe_function(function_, nullptr, napi_tsfn_blocking);
    napi_release_threadsafe_function(function_, napi_tsfn_release);
  }

  bool done() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return done_;
  }

 private:
  // Loop thread; `env` is null when the environment is going away.
  static void CallJs(napi_env env, napi_value callback, void* context, void*) {
    if (env == nullptr) return;
    auto* self = static_cast<CallbackProcessor*>(context);
    Napi::Env scriptEnv(env);
    Napi::HandleScope scope(scriptEnv);
    Napi::Value argument;
    try {
      argument = self->error_ ? Napi::Error::New(scriptEnv, DescribeException(self->error_)).Value()
                              : type_converters::Converter<T>::ToScript(scriptEnv, self->result_);
    } catch (const Napi::Error& error) {
      argument = error.Value();
    }
    napi_value args[] = {argument};
    napi_value ignored;
    napi_get_undefined(env, &ignored);
    napi_call_function(env, ignored, callback, 1, args, &ignored);
    ReportPendingScriptException(scriptEnv);  // what the callback threw
  }

  // Loop thread, after the last call, or when the environment closes.
  static void Finalize(napi_env, void* data, void*) {
    auto* self = static_cast<CallbackProcessor*>(data);
    std::lock_guard<std::mutex> lock(self->mutex_);
    self->closed_ = true;
    self->done_ = true;
  }

  std::function<T()> task_;
  T result_{};
  std::exception_ptr error_;
  napi_threadsafe_function function_ = nullptr;
  mutable std::mutex mutex_;
  bool closed_ = false;
  bool done_ = false;
};

// The pending calls of one result type.
template <typename T>
class CallbackPool {
 public:
  static constexpr std::chrono::seconds kSweepInterval{2};

  static CallbackPool& instance() {
    static CallbackPool* const pool = new CallbackPool();  // never destroyed, like the ThreadPool
    return *pool;
  }

  // Loop thread.
  void add(std::function<T()> task, Napi::Function callback) {
    auto processor = std::make_shared<CallbackProcessor<T>>(std::move(task));
    processor->bind(callback.Env(), callback);
    bool wasIdle;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      wasIdle = processors_.empty();
      processors_.push_back(processor);
    }
    if (wasIdle) sweep_.notify_one();  // the sweeper sleeps while there is nothing to sweep
    // The worker shares ownership: the processor outlives the pool's sweep.
    helpers::ThreadPool::instance().push([processor] { processor->run(); });
  }

 private:
  CallbackPool() : sweeper_([this] { sweepLoop(); }) {}

  // Sleeps while there is nothing to sweep; sweeps every interval otherwise.
  void sweepLoop() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      sweep_.wait(lock, [this] { return !processors_.empty(); });
      sweep_.wait_for(lock, kSweepInterval);
      processors_.erase(std::remove_if(processors_.begin(), processors_.end(),
                                       [](const auto& processor) { return processor->done(); }),
                        processors_.end());
    }
  }

  std::mutex mutex_;
  std::condition_variable sweep_;
  std::vector<std::shared_ptr<CallbackProcessor<T>>> processors_;
  std::thread sweeper_;
};

template <typename R>
void Submit(std::function<R()> task, Napi::Function callback) {
  CallbackPool<R>::instance().add(std::move(task), callback);
}

}  // namespace electron::node_interop::v8_helpers::async
