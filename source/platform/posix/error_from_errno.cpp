#include "error_from_errno.h"

#include <cerrno>

namespace platform::posix_detail {

ErrorCode ErrorFromErrno(int error) {
  switch (error) {
    case 0: return kErrorSuccess;
    case ENOENT: return kErrorFileNotFound;
    case ENOTDIR: return kErrorPathNotFound;
    case EACCES:
    case EPERM: return kErrorAccessDenied;
    case EBADF: return kErrorInvalidHandle;
    case ENOMEM: return kErrorNotEnoughMemory;
    case EMFILE:
    case ENFILE: return kErrorTooManyOpenFiles;
    case ENOSPC: return kErrorDiskFull;
    case EINVAL: return kErrorInvalidParameter;
    case ENAMETOOLONG: return kErrorNameTooLong;
    default: return kErrorInternal;
  }
}

}  // namespace platform::posix_detail
