#include "installer_vesk/bridge/errors.h"

namespace electron::node_interop {

void ThrowScriptError(Napi::Env env, const char* message) {
  // Fails only when an exception is already pending, which then wins.
  napi_throw_error(env, nullptr, message);
}

void ReportPendingScriptException(Napi::Env env) {
  bool pending = false;
  if (napi_is_exception_pending(env, &pending) != napi_ok || !pending) return;
  napi_value error;
  if (napi_get_and_clear_last_exception(env, &error) == napi_ok) napi_fatal_exception(env, error);
}

}  // namespace electron::node_interop
