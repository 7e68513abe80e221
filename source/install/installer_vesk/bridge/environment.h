// Per-environment state of the bridge: the class table, the instance cache, the
// tracer and the script functions the bridge needs. One instance per Node-API
// environment (the main thread, or a worker thread that loads the addon too).
#pragma once

#include <napi.h>

#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>

#include "installer_vesk/bridge/built_ins.h"
#include "installer_vesk/bridge/object_wrapper.h"
#include "installer_vesk/bridge/trace.h"

namespace electron::node_interop {

// Creates a class's native object and its script object, with its methods attached.
using ClassFactory = std::function<std::shared_ptr<v8_helpers::wrappers::IObjectWrapper>(Napi::Env)>;
using FactoryTable = std::unordered_map<std::string, ClassFactory>;

class BridgeEnvironment {
 public:
  // Creates the environment's state; called once, from the module's init.
  static BridgeEnvironment& Create(Napi::Env env, FactoryTable factories, BridgeTrace trace);
  static BridgeEnvironment& Get(Napi::Env env);

  // The script object of class `key`, created on first use and cached for the
  // life of the environment. Throws "Failed to query object" for an unknown key.
  Napi::Object Query(Napi::Env env, const std::string& key);

  // Gives `object` the environment's one External as prototype, so that it has
  // no ordinary prototype chain.
  void DetachPrototype(Napi::Object object) const;

  // The script function, compiled on first use, that makes objects with that
  // prototype laid out as `layout`: make(v0, v1, ...) returns one; with
  // `many`, make(target, first, count, v0, v1, ...) stores `count` of them in
  // target[first], target[first + 1], ...
  Napi::Function RecordMaker(Napi::Env env, const v8_helpers::wrappers::RecordLayout& layout, bool many);

  // The script function, compiled on first use, behind type_converters::AppendRows:
  // append(target, n0, values..., n1, values..., ...).
  Napi::Function RowAppender(Napi::Env env);

  // The realm's built-in objects, which out-parameters are never written onto.
  const v8_helpers::BuiltInObjects& builtIns() const { return builtIns_; }

  // Where the bridge traces what it drops.
  const BridgeTrace& trace() const { return trace_; }

 private:
  BridgeEnvironment(Napi::Env env, FactoryTable factories, BridgeTrace trace);

  FactoryTable factories_;
  BridgeTrace trace_;
  std::map<std::string, std::shared_ptr<v8_helpers::wrappers::IObjectWrapper>> instances_;
  Napi::FunctionReference setPrototypeOf_;
  Napi::Reference<Napi::External<void>> boundPrototype_;
  std::map<std::pair<const v8_helpers::wrappers::RecordLayout*, bool>, Napi::FunctionReference> recordMakers_;
  Napi::FunctionReference rowAppender_;
  v8_helpers::BuiltInObjects builtIns_;
};

}  // namespace electron::node_interop
