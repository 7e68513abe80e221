#include "installer_vesk/bridge/object_wrapper.h"

#include "installer_vesk/bridge/environment.h"

namespace electron::node_interop::v8_helpers::wrappers {
namespace {

// Marks the Externals this module creates, so a foreign External is never read.
constexpr napi_type_tag kHolderTag = {0x6f76726162726467ULL, 0x686f6c6465722d31ULL};

}  // namespace

Napi::Object MakeBoundObjectFromHolder(Napi::Env env, std::unique_ptr<NativeHolderBase> holder) {
  Napi::Object object = Napi::Object::New(env);
  auto external = Napi::External<NativeHolderBase>::New(
      env, holder.get(), [](Napi::Env, NativeHolderBase* owned) { delete owned; });
  holder.release();  // the External's finalizer owns it now
  NAPI_THROW_IF_FAILED(env, napi_type_tag_object(env, external, &kHolderTag), Napi::Object());
  BridgeEnvironment::Get(env).SetPrototype(object, external);
  return object;
}

NativeHolderBase* FindHolder(Napi::Env env, napi_value object) {
  napi_valuetype type;
  if (napi_typeof(env, object, &type) != napi_ok || (type != napi_object && type != napi_function)) {
    return nullptr;
  }
  napi_value prototype;
  if (napi_get_prototype(env, object, &prototype) != napi_ok ||
      napi_typeof(env, prototype, &type) != napi_ok || type != napi_external) {
    return nullptr;
  }
  bool tagged = false;
  if (napi_check_object_type_tag(env, prototype, &kHolderTag, &tagged) != napi_ok || !tagged) {
    return nullptr;
  }
  void* data = nullptr;
  if (napi_get_value_external(env, prototype, &data) != napi_ok) return nullptr;
  return static_cast<NativeHolderBase*>(data);
}

}  // namespace electron::node_interop::v8_helpers::wrappers
