#include "platform/shared_memory.h"

#include <sys/mman.h>

#include <cerrno>

#include "error_from_errno.h"
#include "named_object.h"

namespace platform {

using posix_detail::NamedSegment;
using posix_detail::ObjectKind;

void SharedMemoryView::Unmap() {
  if (mapping_ != nullptr) munmap(mapping_, mapped_size_);
  data_ = nullptr;
  size_ = 0;
  mapping_ = nullptr;
  mapped_size_ = 0;
}

struct SharedMemory::State {
  NamedSegment segment;
};

SharedMemory::SharedMemory() = default;
SharedMemory::~SharedMemory() = default;
SharedMemory::SharedMemory(SharedMemory&& other) noexcept = default;
SharedMemory& SharedMemory::operator=(SharedMemory&& other) noexcept = default;

ErrorCode SharedMemory::CreateOrOpen(const std::wstring& name, std::uint32_t size) {
  Close();
  if (size == 0) return kErrorInvalidParameter;  // a block backed by the paging file needs a size
  auto state = std::make_unique<State>();
  // A new object is all zero already.
  const auto nothing_to_add = [](void*) { return kErrorSuccess; };
  if (const ErrorCode error = state->segment.OpenOrCreate(name, ObjectKind::kSection, size, nothing_to_add)) {
    return error;
  }
  state_ = std::move(state);
  return kErrorSuccess;
}

ErrorCode SharedMemory::Open(const std::wstring& name) {
  Close();
  auto state = std::make_unique<State>();
  if (const ErrorCode error = state->segment.Open(name, ObjectKind::kSection)) return error;
  state_ = std::move(state);
  return kErrorSuccess;
}

void SharedMemory::Close() { state_.reset(); }

ErrorCode SharedMemory::Map(ViewAccess access, std::size_t size, SharedMemoryView& view) const {
  if (!state_) return kErrorInvalidHandle;
  const std::size_t available = state_->segment.payload_size();
  if (size == 0) size = available;  // as MapViewOfFile: the whole block
  if (size > available) return kErrorAccessDenied;
  // mmap needs a page-aligned offset: the header is mapped too and skipped.
  const std::size_t offset = NamedSegment::payload_offset();
  const int protection = access == ViewAccess::kRead ? PROT_READ : PROT_READ | PROT_WRITE;
  void* mapping = mmap(nullptr, offset + size, protection, MAP_SHARED, state_->segment.descriptor(), 0);
  if (mapping == MAP_FAILED) return posix_detail::ErrorFromErrno(errno);
  view.Unmap();
  view.mapping_ = mapping;
  view.mapped_size_ = offset + size;
  view.data_ = static_cast<char*>(mapping) + offset;
  view.size_ = size;
  return kErrorSuccess;
}

}  // namespace platform
