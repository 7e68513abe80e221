// Win32 codes for errno values, shared by the POSIX backend.
#pragma once

#include "platform/error_code.h"

namespace platform::posix_detail {

// The Win32 code closest to an errno value (ENOENT 2, EACCES 5, ...).
ErrorCode ErrorFromErrno(int error);

}  // namespace platform::posix_detail
