#include "installer_vesk/bridge/progress_callback.h"

#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "installer_vesk/bridge/environment.h"
#include "installer_vesk/bridge/errors.h"
#include "installer_vesk/bridge/trace.h"

namespace electron::node_interop::v8_helpers::type_converters {

struct SinkChannel {
  napi_env env = nullptr;  // used on the loop thread only
  std::thread::id loopThread;
  BridgeTrace trace;  // the environment's, kept for reports made after it has gone
  Napi::Reference<Napi::Value> sink;  // released on the loop thread
  napi_threadsafe_function function = nullptr;
  std::mutex state;     // guards `closed` and every use of `function` off the loop thread
  bool closed = false;  // the environment finalized the function
};

// Lives on the reporter's stack until the loop thread has taken it.
class ReportBase {
 public:
  explicit ReportBase(const char* member) : member_(member) {}

  virtual Napi::Value argument(Napi::Env env) const = 0;
  const char* member() const { return member_; }

  void markTaken() {
    // Notified under the lock: the reporter frees the report (its own stack)
    // as soon as it sees taken_, which it cannot before this unlocks.
    std::lock_guard<std::mutex> lock(mutex_);
    taken_ = true;
    taken_signal_.notify_one();
  }
  void waitUntilTaken() {
    std::unique_lock<std::mutex> lock(mutex_);
    taken_signal_.wait(lock, [this] { return taken_; });
  }

 protected:
  ~ReportBase() = default;

 private:
  const char* const member_;
  std::mutex mutex_;
  std::condition_variable taken_signal_;
  bool taken_ = false;
};

namespace {

template <typename V>
class Report final : public ReportBase {
 public:
  Report(const char* member, const V& value) : ReportBase(member), value_(value) {}
  Napi::Value argument(Napi::Env env) const override { return Converter<V>::ToScript(env, value_); }

 private:
  const V& value_;
};

void TraceDropped(const BridgeTrace& trace, const char* member, napi_status status) {
  try {
    WriteTraceRecord(trace, std::string(member) + ": Failed to send wake up event with error " +
                                std::to_string(static_cast<int>(status)) + "; the report is dropped");
  } catch (...) {  // out of memory: the record is lost; the reporter still gets 0
  }
}

// Loop thread: calls the sink's member with the report's one argument, with
// `undefined` as receiver. What the script raises goes to the host as an
// uncaught exception; the reporter is not told.
void Deliver(Napi::Env env, SinkChannel& channel, ReportBase& report) {
  Napi::HandleScope scope(env);
  const char* member = report.member();
  try {
    Napi::Value argument;
    {
      // Once the argument is made the reporter may run on (and free the report).
      struct ReleaseReporter {
        ReportBase& report;
        ~ReleaseReporter() { report.markTaken(); }
      } release{report};
      argument = report.argument(env);
    }
    Napi::Value sink = channel.sink.IsEmpty() ? env.Undefined() : channel.sink.Value();
    if (!sink.IsObject()) {
      throw Napi::TypeError::New(env, std::string("Cannot read properties of ") +
                                          (sink.IsNull() ? "null" : "undefined") + " (reading '" + member + "')");
    }
    Napi::Value function = sink.As<Napi::Object>().Get(member);
    if (!function.IsFunction()) {
      throw Napi::TypeError::New(env, std::string("sink.") + member + " is not a function");
    }
    function.As<Napi::Function>().Call(env.Undefined(), {argument});
  } catch (const Napi::Error& error) {
    napi_fatal_exception(env, error.Value());
  }
}

void CallJs(napi_env env, napi_value, void* context, void* data) {
  auto& report = *static_cast<ReportBase*>(data);
  if (env == nullptr) {  // the environment is going away: release the reporter
    report.markTaken();
    return;
  }
  Deliver(Napi::Env(env), *static_cast<SinkChannel*>(context), report);
}

void Finalize(napi_env, void* data, void*) {
  std::unique_ptr<std::shared_ptr<SinkChannel>> channel(static_cast<std::shared_ptr<SinkChannel>*>(data));
  std::lock_guard<std::mutex> lock((*channel)->state);
  (*channel)->closed = true;
  (*channel)->sink.Reset();
}

}  // namespace

CallbackBase::CallbackBase(Napi::Env env, Napi::Value sink) : channel_(std::make_shared<SinkChannel>()) {
  channel_->env = env;
  channel_->loopThread = std::this_thread::get_id();
  channel_->trace = BridgeEnvironment::Get(env).trace();
  if (!sink.IsEmpty() && (sink.IsObject() || sink.IsFunction())) channel_->sink = Napi::Persistent(sink);
  auto* owner = new std::shared_ptr<SinkChannel>(channel_);
  napi_status status = napi_create_threadsafe_function(
      env, nullptr, nullptr, Napi::String::New(env, "installer_vesk progress"), 0, 1, owner, Finalize,
      channel_.get(), CallJs, &channel_->function);
  if (status != napi_ok) {
    delete owner;
    throw std::runtime_error("Failed to initialize async loop with error " + std::to_string(status));
  }
}

CallbackBase::~CallbackBase() {
  std::lock_guard<std::mutex> lock(channel_->state);
  if (!channel_->closed) napi_release_threadsafe_function(channel_->function, napi_tsfn_release);
}

void CallbackBase::handOver(ReportBase& report) {
  napi_status status = napi_ok;
  if (std::this_thread::get_id() == channel_->loopThread) {
    bool closed;
    {
      std::lock_guard<std::mutex> lock(channel_->state);
      closed = channel_->closed;
    }
    // Waiting for the loop thread on the loop thread would never end: deliver now.
    if (!closed) return Deliver(Napi::Env(channel_->env), *channel_, report);
    status = napi_closing;
  } else {
    std::lock_guard<std::mutex> lock(channel_->state);
    status = channel_->closed ? napi_closing
                              : napi_call_threadsafe_function(channel_->function, &report, napi_tsfn_blocking);
  }
  if (status != napi_ok) return TraceDropped(channel_->trace, report.member(), status);
  report.waitUntilTaken();
}

void CallbackBase::callOnLoop(const char* member, std::int32_t value) {
  Report<std::int32_t> report(member, value);
  handOver(report);
}

void CallbackBase::callOnLoop(const char* member, const installer::ProgressData& value) {
  Report<installer::ProgressData> report(member, value);
  handOver(report);
}

ovra::result_t UiHandlerCallback::progressChanged(const installer::ProgressData& progress) {
  callOnLoop("progressChanged", progress);
  return ovra::kResultOk;
}

ovra::result_t UiHandlerCallback::completed(std::int32_t code) {
  callOnLoop("completed", code);
  return ovra::kResultOk;
}

}  // namespace electron::node_interop::v8_helpers::type_converters
