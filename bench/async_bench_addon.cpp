// The bridge's synchronous and asynchronous calls and its progress delivery,
// next to bare Node-API baselines doing the same work: plain node-addon-api
// functions with the same conversions, node-addon-api's AsyncWorker (libuv's
// pool) and a plain thread-safe function.
#include <napi.h>

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

#include "installer_vesk/bridge/class_registry.h"
#include "ovra/progress_callback.h"
#include "ovra/strings.h"

namespace {

using Sink = ovra::objptr_t<installer::IProgressCallback>;

// The same methods as the test addon's Probe, through the bridge.
class Bench {
 public:
  std::int32_t noop() { return 0; }
  std::int32_t echoInt32(std::int32_t value) { return value; }
  std::string echoString(std::string value) { return value; }
  std::wstring echoWString(const std::wstring& value) { return value; }
  std::int32_t report(Sink sink, std::int32_t count) {
    for (std::int32_t i = 0; i < count; ++i) sink->progressChanged(installer::ProgressData{i, L"step", true});
    return 0;
  }
};

// Bare functions: the same kind checks and conversions, without the bridge.
Napi::Value BareEchoInt32(const Napi::CallbackInfo& info) {
  if (info.Length() < 1 || !info[0].IsNumber()) throw Napi::TypeError::New(info.Env(), "number expected");
  return Napi::Number::New(info.Env(), info[0].As<Napi::Number>().Int32Value());
}

Napi::Value BareEchoString(const Napi::CallbackInfo& info) {
  if (info.Length() < 1 || !info[0].IsString()) throw Napi::TypeError::New(info.Env(), "string expected");
  const std::string value = info[0].As<Napi::String>().Utf8Value();
  return Napi::String::New(info.Env(), value.c_str());
}

Napi::Value BareEchoWString(const Napi::CallbackInfo& info) {
  if (info.Length() < 1 || !info[0].IsString()) throw Napi::TypeError::New(info.Env(), "string expected");
  const std::wstring value = ovra::WideFromUtf16(info[0].As<Napi::String>().Utf16Value());
  return Napi::String::New(info.Env(), ovra::Utf16FromWide(value));
}

class NoopWorker : public Napi::AsyncWorker {
 public:
  explicit NoopWorker(Napi::Function callback) : Napi::AsyncWorker(callback) {}
  void Execute() override {}
  void OnOK() override { Callback().Call({Napi::Number::New(Env(), 0)}); }
};

Napi::Value AsyncWorkerNoop(const Napi::CallbackInfo& info) {
  (new NoopWorker(info[0].As<Napi::Function>()))->Queue();
  return info.Env().Undefined();
}

// One report on its way; with `wait` the reporter waits until the loop thread has
// taken it, as a bridge reporter does.
struct BareReport {
  BareReport(installer::ProgressData data, bool wait) : data(std::move(data)), wait(wait) {}
  installer::ProgressData data;
  bool wait;
  std::mutex mutex;
  std::condition_variable takenSignal;
  bool taken = false;
};

// tsfnReports(count, onReport, onDone, wait): one thread sends `count` records.
Napi::Value TsfnReports(const Napi::CallbackInfo& info) {
  const std::int32_t count = info[0].As<Napi::Number>().Int32Value();
  const bool wait = info[3].ToBoolean().Value();
  auto done = std::make_shared<Napi::FunctionReference>(Napi::Persistent(info[2].As<Napi::Function>()));
  auto function = Napi::ThreadSafeFunction::New(info.Env(), info[1].As<Napi::Function>(), "bench", 0, 1,
                                                [done](Napi::Env) { done->Call({}); done->Reset(); });
  std::thread([function, count, wait]() mutable {
    for (std::int32_t i = 0; i < count; ++i) {
      auto* report = new BareReport(installer::ProgressData{i, L"step", true}, wait);
      function.BlockingCall(report, [](Napi::Env env, Napi::Function callback, BareReport* report) {
        Napi::Object record = Napi::Object::New(env);
        record.Set("progress", report->data.progress);
        record.Set("action", Napi::String::New(env, ovra::Utf16FromWide(report->data.action)));
        record.Set("forward", report->data.forward);
        if (report->wait) {
          {
            std::lock_guard<std::mutex> lock(report->mutex);
            report->taken = true;
          }
          report->takenSignal.notify_one();
        } else {
          delete report;
        }
        callback.Call({record});
      });
      if (wait) {
        {
          std::unique_lock<std::mutex> lock(report->mutex);
          report->takenSignal.wait(lock, [report] { return report->taken; });
        }
        delete report;
      }
    }
    function.Release();
  }).detach();
  return info.Env().Undefined();
}

Napi::Object Init(Napi::Env env, Napi::Object exports) {
  using electron::node_interop::v8_helpers::addMethod;
  electron::node_interop::FactoryTable factories;
  factories["bench"] = [](Napi::Env env) {
    auto wrapper = electron::node_interop::MakeClassWrapper(env, std::make_shared<Bench>());
    addMethod(*wrapper, "noop", &Bench::noop);
    addMethod(*wrapper, "echoInt32", &Bench::echoInt32);
    addMethod(*wrapper, "echoString", &Bench::echoString);
    addMethod(*wrapper, "echoWString", &Bench::echoWString);
    addMethod(*wrapper, "report", &Bench::report);
    return wrapper;
  };
  electron::node_interop::RegisterModule(env, exports, std::move(factories), {});  // nothing traced
  exports.Set("bareEchoInt32", Napi::Function::New(env, BareEchoInt32));
  exports.Set("bareEchoString", Napi::Function::New(env, BareEchoString));
  exports.Set("bareEchoWString", Napi::Function::New(env, BareEchoWString));
  exports.Set("asyncWorkerNoop", Napi::Function::New(env, AsyncWorkerNoop));
  exports.Set("tsfnReports", Napi::Function::New(env, TsfnReports));
  return exports;
}

}  // namespace

NODE_API_MODULE(async_bench_addon, Init)
