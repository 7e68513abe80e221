// The built-in objects of an environment's realm (Object.prototype, Math,
// globalThis, the iterator prototypes, ...), which out-parameters must never
// be written onto: a property put there would be inherited by every object.
#pragma once

#include <napi.h>

namespace electron::node_interop::v8_helpers {

class BuiltInObjects {
 public:
  // Collects the realm's intrinsics: taken when the module is initialised, so
  // before the application's script normally runs. Objects reached through a
  // fresh literal or a Node-API constructor cannot be forged by script; those
  // read from the global object by name are the ones in place at that time.
  explicit BuiltInObjects(Napi::Env env);

  // True when `value` is one of the collected objects; a single lookup.
  bool Contains(Napi::Value value) const;

 private:
  bool Add(Napi::Value value);              // false when not an object or already held
  void AddWithPrototypes(Napi::Value value);  // and its whole prototype chain
  void AddPrototypesOf(Napi::Value value);    // its prototype chain only
  void AddConstructor(Napi::Value value);     // and its "prototype"
  void AddGlobals(Napi::Env env);
  void AddSyntaxIntrinsics(Napi::Env env);

  // A WeakSet of the objects and its own add and has, taken before script can replace them.
  Napi::ObjectReference set_;
  Napi::FunctionReference add_;
  Napi::FunctionReference has_;
};

// True for an object that is the "prototype" of its own "constructor", as
// every realm's Array.prototype is: a built-in prototype even from another realm.
bool IsOwnConstructorPrototype(Napi::Object object);

}  // namespace electron::node_interop::v8_helpers
