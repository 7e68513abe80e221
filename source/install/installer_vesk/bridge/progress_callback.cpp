#include "installer_vesk/bridge/progress_callback.h"

#include <condition_variable>
#include <mutex>
#include <stdexcept>

#include "installer_vesk/bridge/errors.h"

namespace electron::node_interop::v8_helpers::type_converters {

struct SinkChannel {
  napi_env env = nullptr;  // used on the loop thread only
  std::thread::id loopThread;
  Napi::Reference<Napi::Value> sink;  // released on the loop thread
  napi_threadsafe_function function = nullptr;
  std::mutex scriptCall;  // held on the loop thread around each script call
  std::mutex state;       // guards `closed` and every use of `function` off the loop thread
  bool closed = false;    // the environment finalized the function
};

class ReportBase {
 public:
  explicit ReportBase(const char* member) : member_(member) {}
  virtual ~ReportBase() = default;

  virtual Napi::Value argument(Napi::Env env) const = 0;
  const char* member() const { return member_; }

  void markTaken() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      taken_ = true;
    }
    taken_signal_.notify_one();
  }
  void waitUntilTaken() {
    std::unique_lock<std::mutex> lock(mutex_);
    taken_signal_.wait(lock, [this] { return taken_; });
  }

 private:
  const char* member_;
  std::mutex mutex_;
  std::condition_variable taken_signal_;
  bool taken_ = false;
};

namespace {

template <typename V>
class Report final : public ReportBase {
 public:
  Report(const char* member, V value) : ReportBase(member), value_(std::move(value)) {}
  Napi::Value argument(Napi::Env env) const override { return Converter<V>::ToScript(env, value_); }

 private:
  V value_;
};

// Loop thread: calls the sink's member with the report's one argument, with
// `undefined` as receiver. What the script raises goes to the host as an
// uncaught exception; the reporter is not told.
void Deliver(Napi::Env env, SinkChannel& channel, ReportBase& report) {
  Napi::HandleScope scope(env);
  Napi::Value argument = report.argument(env);
  report.markTaken();  // from here the reporter runs on
  std::lock_guard<std::mutex> lock(channel.scriptCall);
  try {
    Napi::Value sink = channel.sink.IsEmpty() ? env.Undefined() : channel.sink.Value();
    if (!sink.IsObject()) {
      throw Napi::TypeError::New(env, std::string("Cannot read properties of ") +
                                          (sink.IsNull() ? "null" : "undefined") + " (reading '" +
                                          report.member() + "')");
    }
    Napi::Value member = sink.As<Napi::Object>().Get(report.member());
    if (!member.IsFunction()) {
      throw Napi::TypeError::New(env, std::string("sink.") + report.member() + " is not a function");
    }
    member.As<Napi::Function>().Call(env.Undefined(), {argument});
  } catch (const Napi::Error& error) {
    napi_fatal_exception(env, error.Value());
  }
}

void CallJs(napi_env env, napi_value, void* context, void* data) {
  std::unique_ptr<std::shared_ptr<ReportBase>> report(static_cast<std::shared_ptr<ReportBase>*>(data));
  if (env == nullptr) {  // the environment is going away: release the reporter
    (*report)->markTaken();
    return;
  }
  Deliver(Napi::Env(env), *static_cast<SinkChannel*>(context), **report);
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

void CallbackBase::handOver(std::shared_ptr<ReportBase> report) {
  if (std::this_thread::get_id() == channel_->loopThread) {
    // Waiting for the loop thread on the loop thread would never end.
    Deliver(Napi::Env(channel_->env), *channel_, *report);
    return;
  }
  {
    std::lock_guard<std::mutex> lock(channel_->state);
    auto* queued = new std::shared_ptr<ReportBase>(report);
    napi_status status = channel_->closed ? napi_closing
                                          : napi_call_threadsafe_function(channel_->function, queued, napi_tsfn_blocking);
    if (status != napi_ok) {
      delete queued;
      throw std::runtime_error("Failed to send wake up event with error " + std::to_string(status));
    }
  }
  report->waitUntilTaken();
}

void CallbackBase::callOnLoop(const char* member, std::int32_t value) {
  handOver(std::make_shared<Report<std::int32_t>>(member, value));
}

void CallbackBase::callOnLoop(const char* member, const installer::ProgressData& value) {
  handOver(std::make_shared<Report<installer::ProgressData>>(member, value));
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
