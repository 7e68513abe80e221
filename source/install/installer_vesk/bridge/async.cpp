#include "installer_vesk/bridge/async.h"

#include "installer_vesk/bridge/errors.h"

namespace electron::node_interop::v8_helpers::async {

std::string DescribeException(std::exception_ptr error) {
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return error_text::kUnknownException;
  }
}

}  // namespace electron::node_interop::v8_helpers::async
