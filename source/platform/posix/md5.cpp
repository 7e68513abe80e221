#include "platform/md5.h"

#include <openssl/evp.h>

namespace platform {

ErrorCode ComputeMd5(const void* data, std::size_t size, Md5Digest& digest) {
  unsigned int length = 0;
  if (EVP_Digest(data, size, digest.data(), &length, EVP_md5(), nullptr) != 1 || length != digest.size()) {
    return kErrorInternal;
  }
  return kErrorSuccess;
}

}  // namespace platform
