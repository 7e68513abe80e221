// Where native failures become script errors. Every script entry point of the
// bridge (query and each method) runs its body through TranslateExceptions.
#pragma once

#include <napi.h>

#include <exception>

namespace electron::node_interop {

// Fixed texts of the bridge's own failures.
namespace error_text {
inline constexpr char kFailedToParseKey[] = "Failed to parse key value";
inline constexpr char kFailedToQueryObject[] = "Failed to query object";
inline constexpr char kIndexOutOfRange[] = "Index is out of range";
inline constexpr char kBoolean[] = "Failed to convert to Boolean type";
inline constexpr char kInt32[] = "Failed to convert to Int32 type";
inline constexpr char kUInt32[] = "Failed to convert to UInt32 type";
inline constexpr char kString[] = "Failed to convert to String type";
inline constexpr char kArray[] = "Failed to convert to Array type";
inline constexpr char kSpecifiedType[] = "Failed to convert to specified type";
inline constexpr char kIllegalInvocation[] = "Illegal invocation";
inline constexpr char kUnknownException[] = "Unknown exception";
}  // namespace error_text

// Throws a plain script Error whose message is `message` (UTF-8).
void ThrowScriptError(Napi::Env env, const char* message);

// Reports an exception that script code called by the bridge left pending (a
// callback or a progress sink member) to the host as an uncaught exception.
void ReportPendingScriptException(Napi::Env env);

// Runs `body`; a C++ exception becomes a pending script Error carrying its what()
// text, and a script exception raised inside `body` is passed on unchanged.
template <typename Body>
Napi::Value TranslateExceptions(Napi::Env env, Body&& body) noexcept {
  try {
    return body();
  } catch (const Napi::Error& error) {
    // napi_throw fails only when an exception is already pending.
    napi_throw(env, error.Value());
  } catch (const std::exception& error) {
    ThrowScriptError(env, error.what());
  } catch (...) {
    ThrowScriptError(env, error_text::kUnknownException);
  }
  return Napi::Value();
}

}  // namespace electron::node_interop
