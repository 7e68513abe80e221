// Results of the platform services: Win32 error codes on every system, so that a
// failure reads the same in both lanes ("Msi not ready: 2").
#pragma once

#include <cstdint>

namespace platform {

using ErrorCode = std::uint32_t;

inline constexpr ErrorCode kErrorSuccess = 0;
inline constexpr ErrorCode kErrorFileNotFound = 2;      // ERROR_FILE_NOT_FOUND
inline constexpr ErrorCode kErrorPathNotFound = 3;      // ERROR_PATH_NOT_FOUND
inline constexpr ErrorCode kErrorTooManyOpenFiles = 4;  // ERROR_TOO_MANY_OPEN_FILES
inline constexpr ErrorCode kErrorAccessDenied = 5;      // ERROR_ACCESS_DENIED
inline constexpr ErrorCode kErrorInvalidHandle = 6;     // ERROR_INVALID_HANDLE
inline constexpr ErrorCode kErrorNotEnoughMemory = 8;   // ERROR_NOT_ENOUGH_MEMORY
inline constexpr ErrorCode kErrorGenFailure = 31;       // ERROR_GEN_FAILURE
inline constexpr ErrorCode kErrorNotSupported = 50;     // ERROR_NOT_SUPPORTED
inline constexpr ErrorCode kErrorInvalidParameter = 87; // ERROR_INVALID_PARAMETER
inline constexpr ErrorCode kErrorDiskFull = 112;        // ERROR_DISK_FULL
inline constexpr ErrorCode kErrorInvalidName = 123;     // ERROR_INVALID_NAME
inline constexpr ErrorCode kErrorNameTooLong = 206;     // ERROR_FILENAME_EXCED_RANGE
inline constexpr ErrorCode kErrorTimeout = 258;         // WAIT_TIMEOUT
inline constexpr ErrorCode kErrorInternal = 1359;       // ERROR_INTERNAL_ERROR

}  // namespace platform
