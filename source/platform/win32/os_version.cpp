#include "platform/os_version.h"

#include <windows.h>

namespace platform {

ErrorCode ReadOsVersion(OsVersion& version) {
  OSVERSIONINFOEXA info{};
  info.dwOSVersionInfoSize = sizeof info;
  if (!GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&info))) return GetLastError();
  version.major = info.dwMajorVersion;
  version.minor = info.dwMinorVersion;
  version.build = info.dwBuildNumber;
  version.service_pack_major = info.wServicePackMajor;
  version.suite_mask = info.wSuiteMask;
  version.product_type = info.wProductType;
  return kErrorSuccess;
}

}  // namespace platform
