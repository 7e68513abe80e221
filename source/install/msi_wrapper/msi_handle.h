// Owner of one raw Windows Installer handle.
#pragma once

#include <utility>

#include "msi_wrapper/msi_api.h"

namespace installer::msi_wrapper {

// Closes its handle once, when destroyed or reset; 0 means no handle.
class UniqueMsiHandle {
 public:
  UniqueMsiHandle() = default;
  explicit UniqueMsiHandle(MSIHANDLE handle) : handle_(handle) {}
  UniqueMsiHandle(UniqueMsiHandle&& other) noexcept : handle_(other.release()) {}
  UniqueMsiHandle& operator=(UniqueMsiHandle&& other) noexcept {
    reset(other.release());
    return *this;
  }
  UniqueMsiHandle(const UniqueMsiHandle&) = delete;
  UniqueMsiHandle& operator=(const UniqueMsiHandle&) = delete;
  ~UniqueMsiHandle() { reset(); }

  MSIHANDLE get() const { return handle_; }
  explicit operator bool() const { return handle_ != 0; }

  // The slot an API call writes a new handle to; the one held is closed first.
  MSIHANDLE* receive() {
    reset();
    return &handle_;
  }
  MSIHANDLE release() { return std::exchange(handle_, 0); }
  void reset(MSIHANDLE handle = 0) {
    const MSIHANDLE old = std::exchange(handle_, handle);
    if (old != 0) {
      MsiCloseHandle(old);
    }
  }

 private:
  MSIHANDLE handle_ = 0;
};

}  // namespace installer::msi_wrapper
