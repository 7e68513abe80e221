#include "platform/shared_memory.h"

#include <windows.h>

#include "kernel_handle.h"

namespace platform {

void SharedMemoryView::Unmap() {
  if (mapping_ != nullptr) UnmapViewOfFile(mapping_);
  data_ = nullptr;
  size_ = 0;
  mapping_ = nullptr;
  mapped_size_ = 0;
}

struct SharedMemory::State {
  explicit State(HANDLE object) : handle(object) {}
  KernelHandle handle;
};

SharedMemory::SharedMemory() = default;
SharedMemory::~SharedMemory() = default;
SharedMemory::SharedMemory(SharedMemory&& other) noexcept = default;
SharedMemory& SharedMemory::operator=(SharedMemory&& other) noexcept = default;

ErrorCode SharedMemory::CreateOrOpen(const std::wstring& name, std::uint32_t size) {
  Close();
  // Backed by the paging file; an existing block is opened (ERROR_ALREADY_EXISTS).
  const HANDLE mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, size, name.c_str());
  if (mapping == nullptr) return GetLastError();
  state_ = std::make_unique<State>(mapping);
  return kErrorSuccess;
}

ErrorCode SharedMemory::Open(const std::wstring& name) {
  Close();
  const HANDLE mapping = OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, name.c_str());
  if (mapping == nullptr) return GetLastError();
  state_ = std::make_unique<State>(mapping);
  return kErrorSuccess;
}

void SharedMemory::Close() { state_.reset(); }

ErrorCode SharedMemory::Map(ViewAccess access, std::size_t size, SharedMemoryView& view) const {
  if (!state_) return ERROR_INVALID_HANDLE;
  const DWORD rights = access == ViewAccess::kRead ? FILE_MAP_READ : FILE_MAP_ALL_ACCESS;
  void* mapping = MapViewOfFile(state_->handle.get(), rights, 0, 0, size);
  if (mapping == nullptr) return GetLastError();
  view.Unmap();
  view.mapping_ = mapping;
  view.data_ = mapping;
  view.size_ = size;
  return kErrorSuccess;
}

}  // namespace platform
