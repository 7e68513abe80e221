#include "installer_vesk/bridge/class_registry.h"

#include <stdexcept>

#include "installer_vesk/bridge/converters.h"
#include "installer_vesk/bridge/errors.h"

namespace electron::node_interop {
namespace {

Napi::Value Query(const Napi::CallbackInfo& info) {
  return TranslateExceptions(info.Env(), [&]() -> Napi::Value {
    if (info.Length() != 1) throw std::invalid_argument(error_text::kFailedToParseKey);
    const std::string key = v8_helpers::type_converters::Converter<std::string>::FromScript(info[0]);
    return BridgeEnvironment::Get(info.Env()).Query(info.Env(), key);
  });
}

}  // namespace

Napi::Object RegisterModule(Napi::Env env, Napi::Object exports, FactoryTable factories, BridgeTrace trace) {
  BridgeEnvironment::Create(env, std::move(factories), std::move(trace));
  exports.Set("query", Napi::Function::New(env, Query, "query"));
  return exports;
}

}  // namespace electron::node_interop
