// Owner of one Win32 kernel handle, for the backend's objects.
#pragma once

#include <windows.h>

namespace platform {

class KernelHandle {
 public:
  KernelHandle() = default;
  // INVALID_HANDLE_VALUE, as some calls return on failure, holds nothing.
  explicit KernelHandle(HANDLE handle) { reset(handle); }
  ~KernelHandle() { reset(nullptr); }
  KernelHandle(const KernelHandle&) = delete;
  KernelHandle& operator=(const KernelHandle&) = delete;

  HANDLE get() const { return handle_; }
  void reset(HANDLE handle) {
    if (handle_ != nullptr) CloseHandle(handle_);
    handle_ = handle == INVALID_HANDLE_VALUE ? nullptr : handle;
  }

 private:
  HANDLE handle_ = nullptr;
};

}  // namespace platform
