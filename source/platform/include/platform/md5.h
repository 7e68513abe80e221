// MD5 digests (RFC 1321). Windows: BCrypt. POSIX: libcrypto.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "platform/error_code.h"

namespace platform {

using Md5Digest = std::array<std::uint8_t, 16>;

// 0, or ERROR_INTERNAL_ERROR (1359) when the system's library fails.
ErrorCode ComputeMd5(const void* data, std::size_t size, Md5Digest& digest);

}  // namespace platform
