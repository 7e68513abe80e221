#include "installer_vesk/bridge/environment.h"

#include <stdexcept>

#include "installer_vesk/bridge/errors.h"

namespace electron::node_interop {

BridgeEnvironment::BridgeEnvironment(Napi::Env env, FactoryTable factories)
    : factories_(std::move(factories)), builtIns_(env) {
  // Node-API has no call that sets a prototype; Object.setPrototypeOf does it.
  // Taken once, before any script can replace it.
  auto objectConstructor = env.Global().Get("Object").As<Napi::Object>();
  setPrototypeOf_ = Napi::Persistent(objectConstructor.Get("setPrototypeOf").As<Napi::Function>());
  // One prototype for every bound object: V8 then reuses the objects' shapes.
  boundPrototype_ = Napi::Persistent(Napi::External<void>::New(env, nullptr));
}

BridgeEnvironment& BridgeEnvironment::Create(Napi::Env env, FactoryTable factories) {
  auto* state = new BridgeEnvironment(env, std::move(factories));
  env.SetInstanceData(state);  // deleted when the environment is torn down
  return *state;
}

BridgeEnvironment& BridgeEnvironment::Get(Napi::Env env) {
  auto* state = env.GetInstanceData<BridgeEnvironment>();
  if (state == nullptr) throw std::logic_error("bridge used before module initialisation");
  return *state;
}

Napi::Object BridgeEnvironment::Query(Napi::Env env, const std::string& key) {
  auto cached = instances_.find(key);
  if (cached == instances_.end()) {
    auto factory = factories_.find(key);
    if (factory == factories_.end()) throw std::runtime_error(error_text::kFailedToQueryObject);
    cached = instances_.emplace(key, factory->second(env)).first;
  }
  return cached->second->GetObject();
}

void BridgeEnvironment::DetachPrototype(Napi::Object object) const {
  setPrototypeOf_.Call({object, boundPrototype_.Value()});
}

}  // namespace electron::node_interop
