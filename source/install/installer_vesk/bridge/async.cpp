#include "installer_vesk/bridge/async.h"

#include <stdexcept>

#include "installer_vesk/bridge/errors.h"

namespace electron::node_interop::v8_helpers::async {

std::string DescribeException(std::exception_ptr error) {
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return error_text::kUnknownException;
  }
}

void AsyncCall::Start(std::unique_ptr<AsyncCall> call, Napi::Env env, Napi::Function callback) {
  napi_status status = napi_create_threadsafe_function(
      env, callback, nullptr, Napi::String::New(env, "installer_vesk async call"), 0, 1, call.get(), Finalize,
      call.get(), CallJs, &call->function_);
  if (status != napi_ok) {
    throw std::runtime_error("Failed to initialize async call with error " + std::to_string(status));
  }
  AsyncCall& started = *call.release();  // its shares are owned by the worker and the function now
  try {
    helpers::ThreadPool::instance().push(started);
  } catch (...) {
    // Never queued: give up the worker's share and let the function close.
    started.releaseShare();
    napi_release_threadsafe_function(started.function_, napi_tsfn_release);
    throw;
  }
}

void AsyncCall::run() {
  try {
    execute();
  } catch (...) {
    error_ = std::current_exception();
    try {
      helpers::ThreadPool::instance().exceptionManager().notify(error_);
    } catch (...) {
      // A listener's failure does not change the call's outcome.
    }
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    // Once the environment has closed the function it must not be touched.
    if (!closed_) {
      napi_call_threadsafe_function(function_, nullptr, napi_tsfn_blocking);
      napi_release_threadsafe_function(function_, napi_tsfn_release);
    }
  }
  releaseShare();
}

void AsyncCall::releaseShare() {
  if (shares_.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
}

// Loop thread; `env` is null when the environment is going away.
void AsyncCall::CallJs(napi_env env, napi_value callback, void* context, void*) {
  if (env == nullptr) return;
  auto* self = static_cast<AsyncCall*>(context);
  Napi::Env scriptEnv(env);
  Napi::HandleScope scope(scriptEnv);
  Napi::Value argument;
  try {
    argument = self->error_ ? Napi::Error::New(scriptEnv, DescribeException(self->error_)).Value()
                            : self->result(scriptEnv);
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
void AsyncCall::Finalize(napi_env, void* data, void*) {
  auto* self = static_cast<AsyncCall*>(data);
  {
    std::lock_guard<std::mutex> lock(self->mutex_);
    self->closed_ = true;
  }
  self->releaseShare();
}

}  // namespace electron::node_interop::v8_helpers::async
