// No exception crosses the C API: an engine call that throws (out of memory,
// a state folder that fails) answers with the function's failure value.
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
