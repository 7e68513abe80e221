#include "installer_vesk/bridge/environment.h"

#include <algorithm>
#include <cctype>
#include <stdexcept>
#include <string>

#include "installer_vesk/bridge/errors.h"

namespace electron::node_interop {

BridgeEnvironment::BridgeEnvironment(Napi::Env env, FactoryTable factories, BridgeTrace trace)
    : factories_(std::move(factories)), trace_(std::move(trace)), builtIns_(env) {
  // Node-API has no call that sets a prototype; Object.setPrototypeOf does it.
  // Taken once, before any script can replace it.
  auto objectConstructor = env.Global().Get("Object").As<Napi::Object>();
  setPrototypeOf_ = Napi::Persistent(objectConstructor.Get("setPrototypeOf").As<Napi::Function>());
  // One prototype for every bound object: V8 then reuses the objects' shapes.
  boundPrototype_ = Napi::Persistent(Napi::External<void>::New(env, nullptr));
}

BridgeEnvironment& BridgeEnvironment::Create(Napi::Env env, FactoryTable factories, BridgeTrace trace) {
  auto* state = new BridgeEnvironment(env, std::move(factories), std::move(trace));
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

namespace {

void CheckFieldName(const std::string& name) {
  const bool identifier = !name.empty() && name != "__proto__" && !std::isdigit(static_cast<unsigned char>(name[0])) &&
                          std::all_of(name.begin(), name.end(), [](char c) {
                            return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '$';
                          });
  if (!identifier) throw std::logic_error("record field name is not an identifier: " + name);
}

// The object literal of one record: { __proto__: prototype, a: <value 0>, b: { __proto__: prototype, ... } },
// with value(i) the expression of the record's i-th plain value.
template <typename Value>
std::string RecordLiteral(const v8_helpers::wrappers::RecordLayout& layout, std::size_t& next, const Value& value) {
  std::string literal = "{ __proto__: prototype";
  for (std::size_t i = 0; i < layout.count; ++i) {
    const auto& field = layout.fields[i];
    CheckFieldName(field.name);
    literal += std::string(", ") + field.name + ": ";
    literal += field.nested != nullptr ? RecordLiteral(*field.nested, next, value) : value(next++);
  }
  return literal + " }";
}

}  // namespace

Napi::Function BridgeEnvironment::RecordMaker(Napi::Env env, const v8_helpers::wrappers::RecordLayout& layout,
                                              bool many) {
  const auto key = std::make_pair(&layout, many);
  const auto found = recordMakers_.find(key);
  if (found != recordMakers_.end()) return found->second.Value();
  std::size_t next = 0;
  std::string maker;
  if (many) {
    const std::string step = std::to_string(layout.values);
    maker = "function (target, first, count, ...v) { for (let i = 0, j = 0; i < count; ++i, j += " + step +
            ") target[first + i] = " +
            RecordLiteral(layout, next, [](std::size_t i) { return "v[j + " + std::to_string(i) + "]"; }) +
            "; }";
  } else {
    std::string parameters;
    for (std::size_t i = 0; i < layout.values; ++i) parameters += (i == 0 ? "v" : ", v") + std::to_string(i);
    maker = "function (" + parameters + ") { return " +
            RecordLiteral(layout, next, [](std::size_t i) { return "v" + std::to_string(i); }) + "; }";
  }
  // Compiled around the prototype, which the literal then refers to.
  const std::string source = "(function (prototype) { return " + maker + "; })";
  napi_value outer = nullptr;
  NAPI_THROW_IF_FAILED(env, napi_run_script(env, Napi::String::New(env, source), &outer), Napi::Function());
  const Napi::Function make = Napi::Function(env, outer).Call({boundPrototype_.Value()}).As<Napi::Function>();
  recordMakers_.emplace(key, Napi::Persistent(make));
  return make;
}

Napi::Function BridgeEnvironment::RowAppender(Napi::Env env) {
  if (rowAppender_.IsEmpty()) {
    // Literals and index stores only: nothing that script could have replaced.
    const char source[] =
        "(function (target, ...v) {"
        "  for (let j = 0; j < v.length;) {"
        "    const n = v[j++]; const row = [];"
        "    for (let k = 0; k < n; ++k) row[k] = v[j + k];"
        "    target[target.length] = row; j += n;"
        "  }"
        "})";
    napi_value append = nullptr;
    NAPI_THROW_IF_FAILED(env, napi_run_script(env, Napi::String::New(env, source), &append), Napi::Function());
    rowAppender_ = Napi::Persistent(Napi::Function(env, append));
  }
  return rowAppender_.Value();
}

}  // namespace electron::node_interop
