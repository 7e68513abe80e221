// The rules of every function of the C API:
//  - its body runs inside Guarded, so no exception crosses the C API: an engine
//    call that throws (out of memory, a state folder that fails) answers with
//    the function's failure value;
//  - it checks its arguments before its handles, as msi.dll does: a missing or
//    invalid pointer gives ERROR_INVALID_PARAMETER even beside a dead handle,
//    and only a call whose arguments are valid reports ERROR_INVALID_HANDLE.
#pragma once

#include <exception>

namespace linux_msi {

template <typename Result, typename Call>
Result Guarded(Result failure, Call call) noexcept {
  try {
    return call();
  } catch (const std::exception&) {
    return failure;
  } catch (...) {
    return failure;
  }
}

}  // namespace linux_msi
