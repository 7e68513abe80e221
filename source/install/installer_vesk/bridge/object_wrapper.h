// Script objects bound to native values.
//
// A bound object (a class's object or a record) has as prototype the
// environment's one External, so it has no ordinary prototype chain (no
// toString, no constructor).
//
// The object of a class (ObjectWrapper) is the one instance of a Node-API class
// made for it, whose methods are copied onto the instance as own properties and
// whose prototype is then replaced by that External. The engine checks each
// method's receiver against that class (a foreign receiver gets the engine's
// TypeError "Illegal invocation") before the method runs, so a method reaches
// its native value straight from its binding.
#pragma once

#include <napi.h>

#include <cstddef>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace electron::node_interop::v8_helpers::wrappers {

// The own properties of a record's script object, in order: each field is a
// plain value or, with `nested` set, a record of its own. A layout lives as
// long as the program (its address names it) and its names are identifiers
// other than "__proto__".
struct RecordLayout {
  struct Field {
    const char* name;
    const RecordLayout* nested;
  };
  const Field* fields;
  std::size_t count;
  std::size_t values;  // plain values of one record, those of nested records included
};

// New objects without an ordinary prototype chain, laid out as `layout` says,
// from layout.values plain values each, in field order (a nested record's in
// its place). They are made by script functions compiled once per layout and
// environment: an object literal takes its prototype and properties in one
// step, far faster than adding the properties one by one.
Napi::Object MakeBoundRecord(Napi::Env env, const RecordLayout& layout, const napi_value* values);
// `count` of them, from count * layout.values values, stored in target[0],
// target[1], ...
void MakeBoundRecords(Napi::Env env, const RecordLayout& layout, std::size_t count,
                      const std::vector<napi_value>& values, Napi::Array target);

// What a method's callback receives as its data; owned by the class object.
struct MethodBinding {
  virtual ~MethodBinding() = default;
};

// The script object of a class, made on first use from the methods added before.
class BoundClassObject {
 public:
  // Only before the first Get().
  void AddMethod(std::string name, napi_callback callback, std::unique_ptr<MethodBinding> binding);
  Napi::Object Get(Napi::Env env);

 private:
  struct Method {
    std::string name;
    napi_callback callback;
    std::unique_ptr<MethodBinding> binding;
  };
  std::vector<Method> methods_;
  Napi::ObjectReference object_;
};

class IObjectWrapper {
 public:
  virtual ~IObjectWrapper() = default;
  // The wrapped script object, in the caller's handle scope.
  virtual Napi::Object GetObject() = 0;
};

// One native class instance and its script object, which it keeps alive; the
// class registry caches these for the life of the environment, so the value
// outlives every call of its methods.
template <typename V>
class ObjectWrapper final : public IObjectWrapper {
 public:
  ObjectWrapper(Napi::Env env, V value) : env_(env), value_(std::move(value)) {}

  Napi::Object GetObject() override { return object_.Get(env_); }
  V& value() { return value_; }

  void AddMethod(std::string name, napi_callback callback, std::unique_ptr<MethodBinding> binding) {
    object_.AddMethod(std::move(name), callback, std::move(binding));
  }

 private:
  Napi::Env env_;
  V value_;
  BoundClassObject object_;
};

}  // namespace electron::node_interop::v8_helpers::wrappers
