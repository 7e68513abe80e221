#include "installer_vesk/bridge/errors.h"

namespace electron::node_interop {

void ThrowScriptError(Napi::Env env, const char* message) {
  // Fails only when an exception is already pending, which then wins.
  napi_throw_error(env, nullptr, message);
}

}  // namespace electron::node_interop
