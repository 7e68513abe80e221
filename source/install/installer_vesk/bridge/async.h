// Asynchronous method calls: the task runs on a worker thread and its result
// reaches the script callback on the loop thread.
#pragma once

#include <napi.h>

#include <functional>
#include <stdexcept>

namespace electron::node_interop::v8_helpers::async {

template <typename R>
void Submit(std::function<R()> task, Napi::Function callback) {
  throw std::logic_error("Asynchronous calls are not available in this build");
}

}  // namespace electron::node_interop::v8_helpers::async
