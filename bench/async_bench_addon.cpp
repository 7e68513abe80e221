// The bridge's asynchronous call and progress delivery, next to bare Node-API
// baselines doing the same work: node-addon-api's AsyncWorker (libuv's pool)
// and a plain thread-safe function.
#include <napi.h>

#include <cstdint>
#include <thread>

#include "installer_vesk/bridge/class_registry.h"
#include "ovra/progress_callback.h"

namespace {

using Sink = ovra::objptr_t<installer::IProgressCallback>;

class Bench {
 public:
  std::int32_t noop() { return 0; }
  std::int32_t report(Sink sink, std::int32_t count) {
    for (std::int32_t i = 0; i < count; ++i) sink->progressChanged(installer::ProgressData{i, L"step", true});
    return 0;
  }
};

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

// tsfnReports(count, onReport, onDone): one thread sends `count` records.
Napi::Value TsfnReports(const Napi::CallbackInfo& info) {
  const std::int32_t count = info[0].As<Napi::Number>().Int32Value();
  auto done = std::make_shared<Napi::FunctionReference>(Napi::Persistent(info[2].As<Napi::Function>()));
  auto function = Napi::ThreadSafeFunction::New(info.Env(), info[1].As<Napi::Function>(), "bench", 0, 1,
                                                [done](Napi::Env) { done->Call({}); done->Reset(); });
  std::thread([function, count]() mutable {
    for (std::int32_t i = 0; i < count; ++i) {
      function.BlockingCall(new installer::ProgressData{i, L"step", true},
                            [](Napi::Env env, Napi::Function callback, installer::ProgressData* data) {
                              Napi::Object record = Napi::Object::New(env);
                              record.Set("progress", data->progress);
                              record.Set("action", Napi::String::New(env, u"step"));
                              record.Set("forward", data->forward);
                              delete data;
                              callback.Call({record});
                            });
    }
    function.Release();
  }).detach();
  return info.Env().Undefined();
}

Napi::Object Init(Napi::Env env, Napi::Object exports) {
  electron::node_interop::FactoryTable factories;
  factories["bench"] = [](Napi::Env env) {
    auto wrapper = electron::node_interop::MakeClassWrapper(env, std::make_shared<Bench>());
    electron::node_interop::v8_helpers::addMethod(*wrapper, "noop", &Bench::noop);
    electron::node_interop::v8_helpers::addMethod(*wrapper, "report", &Bench::report);
    return wrapper;
  };
  electron::node_interop::RegisterModule(env, exports, std::move(factories));
  exports.Set("asyncWorkerNoop", Napi::Function::New(env, AsyncWorkerNoop));
  exports.Set("tsfnReports", Napi::Function::New(env, TsfnReports));
  return exports;
}

}  // namespace

NODE_API_MODULE(async_bench_addon, Init)
