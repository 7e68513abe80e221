#include "installer_vesk/bridge/built_ins.h"

#include <cstdint>

namespace electron::node_interop::v8_helpers {
namespace {

// The standard global objects and constructors of the language, Intl and WebAssembly.
constexpr const char* kGlobalNames[] = {
    "Object", "Function", "Array", "Number", "Boolean", "String", "Symbol", "BigInt", "Date", "RegExp",
    "Error", "AggregateError", "EvalError", "RangeError", "ReferenceError", "SyntaxError", "TypeError",
    "URIError", "Promise", "Proxy", "Map", "Set", "WeakMap", "WeakSet", "WeakRef", "FinalizationRegistry",
    "ArrayBuffer", "SharedArrayBuffer", "DataView", "Int8Array", "Uint8Array", "Uint8ClampedArray",
    "Int16Array", "Uint16Array", "Int32Array", "Uint32Array", "Float32Array", "Float64Array",
    "BigInt64Array", "BigUint64Array", "Iterator", "Math", "JSON", "Reflect", "Atomics", "Intl",
    "WebAssembly"};

// Namespaces whose members are constructors with prototypes of their own.
constexpr const char* kNamespaceNames[] = {"Intl", "WebAssembly"};

// Instances of intrinsics that only syntax reaches; the prototype chains of
// these values are taken, not the values themselves.
constexpr char kSyntaxIntrinsics[] =
    "[function* () {}, (function* () {}).prototype, async function () {}, async function* () {},"
    " (async function* () {}).prototype, [][Symbol.iterator](), ''[Symbol.iterator](),"
    " new Map()[Symbol.iterator](), new Set()[Symbol.iterator](), /(?:)/[Symbol.matchAll]('')]";

}  // namespace

BuiltInObjects::BuiltInObjects(Napi::Env env) {
  Napi::HandleScope scope(env);
  Napi::Function weakSet = env.Global().Get("WeakSet").As<Napi::Function>();
  Napi::Object methods = weakSet.Get("prototype").As<Napi::Object>();
  set_ = Napi::Persistent(weakSet.New({}));
  add_ = Napi::Persistent(methods.Get("add").As<Napi::Function>());
  has_ = Napi::Persistent(methods.Get("has").As<Napi::Function>());

  AddWithPrototypes(env.Global());

  // Prototypes of values made through Node-API: the realm's own, whatever script did.
  AddPrototypesOf(Napi::Object::New(env));
  AddPrototypesOf(Napi::Array::New(env));
  AddPrototypesOf(Napi::Function::New(env, [](const Napi::CallbackInfo&) {}));
  AddPrototypesOf(Napi::Error::New(env, "").Value());
  Napi::Promise::Deferred deferred = Napi::Promise::Deferred::New(env);
  AddPrototypesOf(deferred.Promise());
  deferred.Resolve(env.Undefined());  // a pending deferred holds a handle until settled
  AddPrototypesOf(Napi::Date::New(env, 0));
  Napi::ArrayBuffer buffer = Napi::ArrayBuffer::New(env, 8);
  AddPrototypesOf(buffer);
  AddPrototypesOf(Napi::Uint8Array::New(env, 8, buffer, 0));
  AddPrototypesOf(Napi::DataView::New(env, buffer));

  AddGlobals(env);
  AddSyntaxIntrinsics(env);
}

bool BuiltInObjects::Contains(Napi::Value value) const {
  if (value.IsEmpty() || !value.IsObject()) return false;
  return has_.Call(set_.Value(), {value}).StrictEquals(Napi::Boolean::New(value.Env(), true));
}

bool BuiltInObjects::Add(Napi::Value value) {
  if (value.IsEmpty() || !value.IsObject() || Contains(value)) return false;
  add_.Call(set_.Value(), {value});
  return true;
}

void BuiltInObjects::AddWithPrototypes(Napi::Value value) {
  // A chain met before is known from there on.
  if (Add(value)) AddPrototypesOf(value);
}

void BuiltInObjects::AddPrototypesOf(Napi::Value value) {
  if (value.IsEmpty() || !value.IsObject()) return;
  napi_value prototype = nullptr;
  if (napi_get_prototype(value.Env(), value, &prototype) != napi_ok) return;
  AddWithPrototypes(Napi::Value(value.Env(), prototype));
}

void BuiltInObjects::AddConstructor(Napi::Value value) {
  AddWithPrototypes(value);
  if (value.IsFunction()) AddWithPrototypes(value.As<Napi::Object>().Get("prototype"));
}

void BuiltInObjects::AddGlobals(Napi::Env env) {
  Napi::Object global = env.Global();
  for (const char* name : kGlobalNames) {
    try {
      AddConstructor(global.Get(name));
    } catch (const Napi::Error&) {
      // A getter put there by script threw: nothing to take.
    }
  }
  for (const char* name : kNamespaceNames) {
    try {
      Napi::Value space = global.Get(name);
      if (!space.IsObject()) continue;
      napi_value keys = nullptr;
      if (napi_get_all_property_names(env, space, napi_key_own_only, napi_key_skip_symbols,
                                      napi_key_keep_numbers, &keys) != napi_ok) {
        continue;
      }
      Napi::Array members(env, keys);
      for (std::uint32_t i = 0; i < members.Length(); ++i) {
        AddConstructor(space.As<Napi::Object>().Get(members.Get(i)));
      }
    } catch (const Napi::Error&) {
      // As above: the namespace's members are not taken.
    }
  }
}

void BuiltInObjects::AddSyntaxIntrinsics(Napi::Env env) {
  napi_value result = nullptr;
  if (napi_run_script(env, Napi::String::New(env, kSyntaxIntrinsics), &result) != napi_ok) {
    // Compilation refused by the host (or a replaced iterator method threw).
    bool pending = false;
    napi_value ignored;
    if (napi_is_exception_pending(env, &pending) == napi_ok && pending) {
      napi_get_and_clear_last_exception(env, &ignored);
    }
    return;
  }
  try {
    Napi::Value list(env, result);
    if (!list.IsArray()) return;
    Napi::Array values = list.As<Napi::Array>();
    for (std::uint32_t i = 0; i < values.Length(); ++i) AddPrototypesOf(values.Get(i));
  } catch (const Napi::Error&) {
    // A getter put on the array's prototype by script threw: the rest is not taken.
  }
}

bool IsOwnConstructorPrototype(Napi::Object object) {
  if (!object.HasOwnProperty("constructor")) return false;
  Napi::Value constructor = object.Get("constructor");
  return constructor.IsFunction() && constructor.As<Napi::Object>().Get("prototype").StrictEquals(object);
}

}  // namespace electron::node_interop::v8_helpers
