#include "installer_vesk/bridge/object_wrapper.h"

#include <algorithm>
#include <cstddef>
#include <stdexcept>

#include "installer_vesk/bridge/environment.h"

namespace electron::node_interop::v8_helpers::wrappers {
namespace {

napi_value ReturnThis(napi_env env, napi_callback_info info) {
  napi_value self = nullptr;
  napi_get_cb_info(env, info, nullptr, nullptr, &self, nullptr);
  return self;
}

}  // namespace

Napi::Object MakeBoundRecord(Napi::Env env, const RecordLayout& layout, const napi_value* values) {
  const Napi::Function make = BridgeEnvironment::Get(env).RecordMaker(env, layout, false);
  napi_value record = nullptr;
  NAPI_THROW_IF_FAILED(env, napi_call_function(env, env.Undefined(), make, layout.values, values, &record),
                       Napi::Object());
  return Napi::Object(env, record);
}

void MakeBoundRecords(Napi::Env env, const RecordLayout& layout, std::size_t count,
                      const std::vector<napi_value>& values, Napi::Array target) {
  // One call per batch of records, each call's arguments kept well inside the stack.
  constexpr std::size_t kValuesPerCall = 4096;
  const std::size_t per_call = std::max<std::size_t>(1, kValuesPerCall / std::max<std::size_t>(1, layout.values));
  const Napi::Function make = BridgeEnvironment::Get(env).RecordMaker(env, layout, true);
  std::vector<napi_value> arguments;
  for (std::size_t first = 0; first < count; first += per_call) {
    const std::size_t batch = std::min(per_call, count - first);
    arguments.assign({target, Napi::Number::New(env, static_cast<double>(first)),
                      Napi::Number::New(env, static_cast<double>(batch))});
    const auto begin = values.begin() + static_cast<std::ptrdiff_t>(first * layout.values);
    arguments.insert(arguments.end(), begin, begin + static_cast<std::ptrdiff_t>(batch * layout.values));
    napi_value ignored = nullptr;
    NAPI_THROW_IF_FAILED_VOID(env, napi_call_function(env, env.Undefined(), make, arguments.size(), arguments.data(),
                                                      &ignored));
  }
}

void BoundClassObject::AddMethod(std::string name, napi_callback callback, std::unique_ptr<MethodBinding> binding) {
  if (!object_.IsEmpty()) throw std::logic_error("method added after the object was made");
  methods_.push_back(Method{std::move(name), callback, std::move(binding)});
}

Napi::Object BoundClassObject::Get(Napi::Env env) {
  if (!object_.IsEmpty()) return object_.Value();

  std::vector<napi_property_descriptor> prototype;
  for (const auto& method : methods_) {
    prototype.push_back({method.name.c_str(), nullptr, method.callback, nullptr, nullptr, nullptr, napi_default,
                         method.binding.get()});
  }
  napi_value constructor = nullptr;
  NAPI_THROW_IF_FAILED(env,
                       napi_define_class(env, "BoundObject", NAPI_AUTO_LENGTH, ReturnThis, nullptr, prototype.size(),
                                         prototype.data(), &constructor),
                       Napi::Object());
  napi_value instance = nullptr;
  NAPI_THROW_IF_FAILED(env, napi_new_instance(env, constructor, 0, nullptr, &instance), Napi::Object());
  Napi::Object object(env, instance);

  // The methods become own properties that script may replace or delete.
  Napi::Object methods = Napi::Object(env, constructor).Get("prototype").As<Napi::Object>();
  std::vector<napi_property_descriptor> own;
  for (const auto& method : methods_) {
    own.push_back({method.name.c_str(), nullptr, nullptr, nullptr, nullptr, methods.Get(method.name),
                   static_cast<napi_property_attributes>(napi_writable | napi_enumerable | napi_configurable),
                   nullptr});
  }
  NAPI_THROW_IF_FAILED(env, napi_define_properties(env, object, own.size(), own.data()), Napi::Object());
  BridgeEnvironment::Get(env).DetachPrototype(object);
  object_ = Napi::Persistent(object);
  return object;
}

}  // namespace electron::node_interop::v8_helpers::wrappers
