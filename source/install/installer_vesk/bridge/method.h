// Binding of native member functions as methods of a class's script object.
//
// A method with n declared parameters called with exactly n arguments (or more,
// the last not a function) runs synchronously and returns its converted result;
// out-parameters (non-const references) are written back. Called with at least
// n+1 arguments the last of which is a function, it runs on a worker thread and
// that function later receives the result (see async.h).
#pragma once

#include <napi.h>

#include <cstddef>
#include <memory>
#include <stdexcept>
#include <tuple>
#include <type_traits>
#include <utility>

#include "installer_vesk/bridge/async.h"
#include "installer_vesk/bridge/converters.h"
#include "installer_vesk/bridge/errors.h"
#include "installer_vesk/bridge/object_wrapper.h"
#include "installer_vesk/bridge/progress_callback.h"

namespace electron::node_interop::v8_helpers {

template <typename P>
using ParameterValue = std::decay_t<P>;

template <typename P>
inline constexpr bool kIsOutParameter =
    std::is_lvalue_reference_v<P> && !std::is_const_v<std::remove_reference_t<P>>;

template <typename T>
struct IsVectorOfRecords : std::false_type {};
template <typename R>
struct IsVectorOfRecords<std::vector<R>> : type_converters::IsRecord<R> {};

namespace method_detail {

template <typename V>
V ReadArgument(const Napi::CallbackInfo& info, std::size_t index) {
  if (info.Length() <= index) throw std::invalid_argument(error_text::kIndexOutOfRange);
  return type_converters::Converter<V>::FromScript(info[index]);
}

// Reads the parameters from the last to the first, so that with several bad
// arguments the error is that of the highest-numbered one.
template <typename Tuple, std::size_t... I>
void ReadArguments(const Napi::CallbackInfo& info, Tuple& args, std::index_sequence<I...>) {
  constexpr std::size_t n = sizeof...(I);
  ((std::get<n - 1 - I>(args) = ReadArgument<std::tuple_element_t<n - 1 - I, Tuple>>(info, n - 1 - I)), ...);
}

// A by-value parameter takes its argument by move (each argument is used once);
// references see the stored value, which out-parameters write back from.
template <typename P, typename V>
decltype(auto) PassArgument(V& value) {
  if constexpr (std::is_reference_v<P>) {
    return (value);
  } else {
    return std::move(value);
  }
}

template <typename T, typename Method, typename R, typename... P, typename Tuple, std::size_t... I>
R Invoke(T& target, Method method, Tuple& args, std::index_sequence<I...>) {
  return (target.*method)(PassArgument<P>(std::get<I>(args))...);
}

template <typename V>
void WriteBack(Napi::Env env, Napi::Value argument, const V& value) {
  if constexpr (IsVectorOfRecords<V>::value) {
    // In place: elements past the native list are deleted (holes, same length).
    Napi::Array array = argument.As<Napi::Array>();
    if (!type_converters::IsWritableOutArray(array)) return;
    const std::uint32_t length = array.Length();
    for (std::uint32_t i = static_cast<std::uint32_t>(value.size()); i < length; ++i) array.Delete(i);
    type_converters::Converter<typename V::value_type>::ToScriptInto(env, value, array);
  } else if (type_converters::ReceivesOutValue(argument)) {
    // Only an empty object receives "value"; a primitive, a filled object or a
    // built-in object is left alone.
    argument.As<Napi::Object>().Set(type_converters::kBoxProperty,
                                    type_converters::Converter<V>::ToScript(env, value));
  }
}

template <typename... P, typename Tuple, std::size_t... I>
void WriteBackOutParameters(const Napi::CallbackInfo& info, const Tuple& args, std::index_sequence<I...>) {
  (
      [&] {
        if constexpr (kIsOutParameter<P>) WriteBack(info.Env(), info[I], std::get<I>(args));
      }(),
      ...);
}

template <typename T, typename Method>
struct Binding final : wrappers::MethodBinding {
  Binding(std::shared_ptr<T>& target, Method method) : target(target), method(method) {}
  std::shared_ptr<T>& target;  // owned by the class's wrapper, which outlives every call
  Method method;
};

template <typename T, typename Method, typename R, typename... P>
Napi::Value MethodTrampoline(const Napi::CallbackInfo& info, const Binding<T, Method>& binding) {
  constexpr std::size_t n = sizeof...(P);
  const std::size_t argc = info.Length();
  const bool asynchronous = argc >= n + 1 && info[argc - 1].IsFunction();

  std::tuple<ParameterValue<P>...> args;
  ReadArguments(info, args, std::index_sequence_for<P...>{});

  if (asynchronous) {
    // The task owns copies of everything it uses; out-parameters are not written back.
    async::Submit<R>(
        [target = binding.target, method = binding.method, args = std::move(args)]() mutable -> R {
          return Invoke<T, Method, R, P...>(*target, method, args, std::index_sequence_for<P...>{});
        },
        info[argc - 1].As<Napi::Function>());
    return info.Env().Undefined();
  }

  R result = Invoke<T, Method, R, P...>(*binding.target, binding.method, args, std::index_sequence_for<P...>{});
  WriteBackOutParameters<P...>(info, args, std::index_sequence_for<P...>{});
  return type_converters::Converter<R>::ToScript(info.Env(), result);
}

// The method's Node-API callback; the engine has checked the receiver already.
template <typename T, typename Method, typename R, typename... P>
napi_value MethodCallback(napi_env env, napi_callback_info callbackInfo) {
  return TranslateExceptions(Napi::Env(env), [&] {
    Napi::CallbackInfo info(env, callbackInfo);
    return MethodTrampoline<T, Method, R, P...>(info, *static_cast<Binding<T, Method>*>(info.Data()));
  });
}

template <typename T, typename Method, typename R, typename... P>
void AttachMethod(wrappers::ObjectWrapper<std::shared_ptr<T>>& wrapper, const char* name, Method method) {
  wrapper.AddMethod(name, MethodCallback<T, Method, R, P...>,
                    std::make_unique<Binding<T, Method>>(wrapper.value(), method));
}

}  // namespace method_detail

// Attaches `method` to the wrapper's script object as the own property `name`;
// only before the object is first used.
template <typename T, typename R, typename... P>
void addMethod(wrappers::ObjectWrapper<std::shared_ptr<T>>& wrapper, const char* name, R (T::*method)(P...)) {
  method_detail::AttachMethod<T, decltype(method), R, P...>(wrapper, name, method);
}

template <typename T, typename R, typename... P>
void addMethod(wrappers::ObjectWrapper<std::shared_ptr<T>>& wrapper, const char* name,
               R (T::*method)(P...) const) {
  method_detail::AttachMethod<T, decltype(method), R, P...>(wrapper, name, method);
}

}  // namespace electron::node_interop::v8_helpers
