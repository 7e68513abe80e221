// The module's entry: the class table and the script function `query(key)`.
#pragma once

#include <napi.h>

#include <memory>
#include <string>

#include "installer_vesk/bridge/environment.h"
#include "installer_vesk/bridge/method.h"
#include "installer_vesk/bridge/object_wrapper.h"
#include "installer_vesk/bridge/trace.h"

namespace electron::node_interop {

// Creates the wrapper of a new native object of a class; the class's factory
// then attaches its methods with addMethod.
template <typename T>
std::shared_ptr<v8_helpers::wrappers::ObjectWrapper<std::shared_ptr<T>>> MakeClassWrapper(
    Napi::Env env, std::shared_ptr<T> native) {
  return std::make_shared<v8_helpers::wrappers::ObjectWrapper<std::shared_ptr<T>>>(env, std::move(native));
}

// Sets up the bridge for this environment with `factories` and puts the function
// `query` on `exports`. The bridge traces what it drops through `trace`, whose
// tracer must outlive every progress sink. Call once from the module's init function.
Napi::Object RegisterModule(Napi::Env env, Napi::Object exports, FactoryTable factories, BridgeTrace trace);

}  // namespace electron::node_interop
