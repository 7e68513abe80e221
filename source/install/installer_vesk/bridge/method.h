// Binding of native member functions as methods of a bound script object.
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

// The native object behind `this`; refuses a receiver that is not bound to a T.
template <typename T>
std::shared_ptr<T> ResolveTarget(const Napi::CallbackInfo& info) {
  auto* target = wrappers::FindBoundValue<std::shared_ptr<T>>(info.Env(), info.This());
  if (target == nullptr || *target == nullptr) throw std::invalid_argument(error_text::kIllegalInvocation);
  return *target;  // a copy keeps the object alive for the whole call
}

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

template <typename V>
void WriteBack(Napi::Env env, Napi::Value argument, const V& value) {
  if constexpr (IsVectorOfRecords<V>::value) {
    // In place: elements past the native list are deleted (holes, same length).
    Napi::Array array = argument.As<Napi::Array>();
    const std::uint32_t length = array.Length();
    for (std::uint32_t i = static_cast<std::uint32_t>(value.size()); i < length; ++i) array.Delete(i);
    for (std::size_t i = 0; i < value.size(); ++i) {
      array.Set(static_cast<std::uint32_t>(i),
                type_converters::Converter<typename V::value_type>::ToScript(env, value[i]));
    }
  } else if (type_converters::IsEmptyObject(argument)) {
    // Only an empty object receives "value"; a primitive or a filled object is left alone.
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

template <typename T, typename Method, typename R, typename... P>
Napi::Value MethodTrampoline(const Napi::CallbackInfo& info, Method method) {
  constexpr std::size_t n = sizeof...(P);
  const std::size_t argc = info.Length();
  const bool asynchronous = argc >= n + 1 && info[argc - 1].IsFunction();

  std::shared_ptr<T> target = ResolveTarget<T>(info);
  std::tuple<ParameterValue<P>...> args;
  ReadArguments(info, args, std::index_sequence_for<P...>{});

  if (asynchronous) {
    // The task owns copies of everything it uses; out-parameters are not written back.
    async::Submit<R>(
        [target = std::move(target), method, args = std::move(args)]() mutable -> R {
          return std::apply([&](auto&... a) -> R { return ((*target).*method)(a...); }, args);
        },
        info[argc - 1].As<Napi::Function>());
    return info.Env().Undefined();
  }

  R result = std::apply([&](auto&... a) -> R { return ((*target).*method)(a...); }, args);
  WriteBackOutParameters<P...>(info, args, std::index_sequence_for<P...>{});
  return type_converters::Converter<R>::ToScript(info.Env(), result);
}

template <typename T, typename Method, typename R, typename... P>
void AttachMethod(wrappers::ObjectWrapper<std::shared_ptr<T>>& wrapper, const char* name, Method method) {
  Napi::Env env = wrapper.Env();
  Napi::HandleScope scope(env);
  Napi::Function function = Napi::Function::New(
      env,
      [method](const Napi::CallbackInfo& info) -> Napi::Value {
        return TranslateExceptions(info.Env(), [&] { return MethodTrampoline<T, Method, R, P...>(info, method); });
      },
      name);
  wrapper.GetObject().Set(name, function);
}

}  // namespace method_detail

// Attaches `method` to the wrapper's script object as the own property `name`.
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
