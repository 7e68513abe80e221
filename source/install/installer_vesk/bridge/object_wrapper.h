// Script objects bound to native values.
//
// A bound object is an empty script object whose prototype is an External that
// points to a NativeHolder owning the native value. The object therefore has no
// ordinary prototype chain (no toString, no constructor), and the native value is
// found from the object alone. The holder is freed when the External is collected.
#pragma once

#include <napi.h>

#include <memory>
#include <utility>

namespace electron::node_interop::v8_helpers::wrappers {

// Base of every holder; `type` identifies the held value's C++ type, so a method
// never treats one class's holder as another's.
struct NativeHolderBase {
  explicit NativeHolderBase(const void* type) : type(type) {}
  virtual ~NativeHolderBase() = default;
  const void* const type;
};

// A unique address per held type.
template <typename V>
const void* HeldTypeKey() {
  static const char key = 0;
  return &key;
}

template <typename V>
struct NativeHolder final : NativeHolderBase {
  explicit NativeHolder(V value) : NativeHolderBase(HeldTypeKey<V>()), value(std::move(value)) {}
  V value;
};

// Creates an empty object whose prototype is an External owning `holder`.
Napi::Object MakeBoundObjectFromHolder(Napi::Env env, std::unique_ptr<NativeHolderBase> holder);

// The holder behind `object`'s prototype, or null when `object` is not a bound
// object made by this module.
NativeHolderBase* FindHolder(Napi::Env env, napi_value object);

template <typename V>
Napi::Object MakeBoundObject(Napi::Env env, V value) {
  return MakeBoundObjectFromHolder(env, std::make_unique<NativeHolder<V>>(std::move(value)));
}

// The value held behind `object`, or null when `object` is not bound to a V.
template <typename V>
V* FindBoundValue(Napi::Env env, napi_value object) {
  NativeHolderBase* holder = FindHolder(env, object);
  if (holder == nullptr || holder->type != HeldTypeKey<V>()) return nullptr;
  return &static_cast<NativeHolder<V>*>(holder)->value;
}

class IObjectWrapper {
 public:
  virtual ~IObjectWrapper() = default;
  // The wrapped script object, in the caller's handle scope.
  virtual Napi::Object GetObject() const = 0;
};

// Keeps one bound script object alive (strong reference) for a native class
// instance; the class registry caches these for the life of the environment.
template <typename V>
class ObjectWrapper final : public IObjectWrapper {
 public:
  ObjectWrapper(Napi::Env env, V value)
      : object_(Napi::Persistent(MakeBoundObject(env, std::move(value)))) {}

  Napi::Object GetObject() const override { return object_.Value(); }
  Napi::Env Env() const { return object_.Env(); }

 private:
  Napi::ObjectReference object_;
};

}  // namespace electron::node_interop::v8_helpers::wrappers
