// The version of the running system.
//
// Windows: GetVersionExA with OSVERSIONINFOEXA (what it answers depends on the
// executable's manifest). POSIX: uname's release "major.minor.patch..." gives major,
// minor and, as build, patch; no service pack, suite mask 0, product type 1 (workstation).
#pragma once

#include <cstdint>

#include "platform/error_code.h"

namespace platform {

struct OsVersion {
  std::uint32_t major = 0;
  std::uint32_t minor = 0;
  std::uint32_t build = 0;
  std::uint32_t service_pack_major = 0;
  std::uint32_t suite_mask = 0;
  std::uint32_t product_type = 0;
};

// 0, or the Win32 error.
ErrorCode ReadOsVersion(OsVersion& version);

}  // namespace platform
