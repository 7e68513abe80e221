// Progress sinks: a script object with the members progressChanged(progress)
// and completed(code), seen by native code as an installer::IProgressCallback.
//
// Reports may come from any thread. Each report is handed to the loop thread
// through a thread-safe function; the reporting thread waits only until the
// loop thread has taken the report, never for script to run, so the reports of
// one thread reach script in order. A report made on the loop thread itself is
// delivered at once, also from inside a handler of the same sink. While native
// code holds the sink, the process stays alive.
//
// A report that cannot be handed over (the environment has been torn down) is
// dropped and traced; the reporter still gets 0.
#pragma once

#include <napi.h>

#include <cstdint>
#include <memory>
#include <string>

#include "installer_vesk/bridge/converters.h"
#include "ovra/object.h"
#include "ovra/progress_callback.h"

namespace electron::node_interop::v8_helpers::type_converters {

template <>
struct RecordShape<installer::ProgressData> {
  static constexpr auto fields() {
    using installer::ProgressData;
    return std::make_tuple(MakeField("progress", &ProgressData::progress),
                           MakeField("action", &ProgressData::action),
                           MakeField("forward", &ProgressData::forward));
  }
};

// One report on its way to the loop thread.
class ReportBase;

// The script side of a sink: the thread-safe function and the sink object.
// Shared by the native owner and the loop-thread side, which releases the
// script handles.
struct SinkChannel;

class CallbackBase {
 public:
  CallbackBase(Napi::Env env, Napi::Value sink);
  ~CallbackBase();
  CallbackBase(const CallbackBase&) = delete;
  CallbackBase& operator=(const CallbackBase&) = delete;

 protected:
  // Hands `value` to the sink's member `member` (a string literal); returns
  // once the loop thread has taken it, or has dropped it.
  void callOnLoop(const char* member, std::int32_t value);
  void callOnLoop(const char* member, const installer::ProgressData& value);

 private:
  void handOver(ReportBase& report);

  std::shared_ptr<SinkChannel> channel_;
};

class UiHandlerCallback final : public CallbackBase,
                                public ovra::SimpleObjectBase<ovra::NoServiceStrategy, installer::IProgressCallback> {
 public:
  UiHandlerCallback(Napi::Env env, Napi::Value sink) : CallbackBase(env, sink) {}

  ovra::result_t progressChanged(const installer::ProgressData& progress) override;
  ovra::result_t completed(std::int32_t code) override;
};

// A progress-sink parameter: the argument is wrapped without any type check.
template <>
struct Converter<ovra::objptr_t<installer::IProgressCallback>> {
  static ovra::objptr_t<installer::IProgressCallback> FromScript(Napi::Value value) {
    return ovra::objptr_t<installer::IProgressCallback>::Adopt(new UiHandlerCallback(value.Env(), value));
  }
};

}  // namespace electron::node_interop::v8_helpers::type_converters
