#include "platform/os_version.h"

#include <sys/utsname.h>

#include <cerrno>
#include <cstdlib>

#include "error_from_errno.h"

namespace platform {

ErrorCode ReadOsVersion(OsVersion& version) {
  utsname names{};
  if (uname(&names) != 0) return posix_detail::ErrorFromErrno(errno);
  // "6.1.0-18-amd64": the leading numbers, as far as they go.
  std::uint32_t* const parts[] = {&version.major, &version.minor, &version.build};
  const char* cursor = names.release;
  for (std::uint32_t* part : parts) {
    char* end = nullptr;
    *part = static_cast<std::uint32_t>(std::strtoul(cursor, &end, 10));
    if (end == cursor || *end != '.') break;
    cursor = end + 1;
  }
  version.service_pack_major = 0;
  version.suite_mask = 0;
  version.product_type = 1;  // VER_NT_WORKSTATION
  return kErrorSuccess;
}

}  // namespace platform
