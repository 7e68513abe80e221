#include "platform/md5.h"

#include <windows.h>
#include <bcrypt.h>

namespace platform {
namespace {

class AlgorithmProvider {
 public:
  AlgorithmProvider() = default;
  ~AlgorithmProvider() {
    if (handle_ != nullptr) BCryptCloseAlgorithmProvider(handle_, 0);
  }
  AlgorithmProvider(const AlgorithmProvider&) = delete;
  AlgorithmProvider& operator=(const AlgorithmProvider&) = delete;
  BCRYPT_ALG_HANDLE* out() { return &handle_; }
  BCRYPT_ALG_HANDLE get() const { return handle_; }

 private:
  BCRYPT_ALG_HANDLE handle_ = nullptr;
};

class Hash {
 public:
  Hash() = default;
  ~Hash() {
    if (handle_ != nullptr) BCryptDestroyHash(handle_);
  }
  Hash(const Hash&) = delete;
  Hash& operator=(const Hash&) = delete;
  BCRYPT_HASH_HANDLE* out() { return &handle_; }
  BCRYPT_HASH_HANDLE get() const { return handle_; }

 private:
  BCRYPT_HASH_HANDLE handle_ = nullptr;
};

bool Succeeded(NTSTATUS status) { return status >= 0; }

}  // namespace

ErrorCode ComputeMd5(const void* data, std::size_t size, Md5Digest& digest) {
  AlgorithmProvider algorithm;
  Hash hash;
  // BCryptHashData takes a ULONG length: larger inputs go in pieces.
  auto* bytes = static_cast<PUCHAR>(const_cast<void*>(data));
  if (!Succeeded(BCryptOpenAlgorithmProvider(algorithm.out(), BCRYPT_MD5_ALGORITHM, nullptr, 0)) ||
      !Succeeded(BCryptCreateHash(algorithm.get(), hash.out(), nullptr, 0, nullptr, 0, 0))) {
    return kErrorInternal;
  }
  while (size > 0) {
    const ULONG piece = size > 0x40000000 ? 0x40000000 : static_cast<ULONG>(size);
    if (!Succeeded(BCryptHashData(hash.get(), bytes, piece, 0))) return kErrorInternal;
    bytes += piece;
    size -= piece;
  }
  if (!Succeeded(BCryptFinishHash(hash.get(), digest.data(), static_cast<ULONG>(digest.size()), 0))) {
    return kErrorInternal;
  }
  return kErrorSuccess;
}

}  // namespace platform
