// Named shared-memory blocks backed by the paging file, and views of them.
//
// Windows: CreateFileMappingW (paging file, PAGE_READWRITE) / OpenFileMappingW
// (FILE_MAP_ALL_ACCESS) / MapViewOfFile / UnmapViewOfFile.
//
// POSIX: shm_open/mmap. A Windows object name maps one to one onto a shm name:
//   "Global\<leaf>"  ->  "/Global.<leaf>"
//   "Local\<leaf>"   ->  "/Local.<leaf>"
//   "<leaf>"         ->  "/Local.<leaf>"   (no prefix means the session namespace, as on Windows)
// with <leaf> in UTF-8. Neither prefix contains the '.', so the first '.' ends it and
// Global and Local objects never meet. A leaf may not contain '\' (another namespace,
// "Session\1\x" included: ERROR_PATH_NOT_FOUND) or '/', and must not be empty
// (ERROR_INVALID_NAME); the shm name holds at most NAME_MAX bytes
// (ERROR_FILENAME_EXCED_RANGE). Events and blocks
// share the namespace, as on Windows: opening one as the other gives ERROR_INVALID_HANDLE.
// Unlike Windows, Local is not per session. Objects are private to their creator's
// user: created with mode 0600 whatever the umask, and an existing object that
// another user owns is refused, treated as absent and reported
// (platform/named_object_diagnostics.h).
//
// Every object starts with a small header (kind, size, the creator's process id)
// and is published once complete. It exists only while its creator's handle is
// open (on Windows: while any handle is): the creator holds an exclusive flock on
// it, which the kernel drops when the process ends (a child forked without exec
// shares it), so a block left behind by a crashed creator opens as
// ERROR_FILE_NOT_FOUND and the next CreateOrOpen replaces it with a fresh one. The
// creator's Close removes the name; open handles and views stay usable. Creation,
// replacement and removal are serialised by a lock file that stays in place,
// "/platform-named-objects.lock".
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include "platform/error_code.h"

namespace platform {

enum class ViewAccess { kRead, kReadWrite };  // FILE_MAP_READ, FILE_MAP_ALL_ACCESS

// One mapped view; unmapped on destruction. It may outlive the block handle.
class SharedMemoryView {
 public:
  SharedMemoryView() = default;
  ~SharedMemoryView() { Unmap(); }
  SharedMemoryView(SharedMemoryView&& other) noexcept { *this = std::move(other); }
  SharedMemoryView& operator=(SharedMemoryView&& other) noexcept {
    if (this != &other) {
      Unmap();
      data_ = std::exchange(other.data_, nullptr);
      size_ = std::exchange(other.size_, 0);
      mapping_ = std::exchange(other.mapping_, nullptr);
      mapped_size_ = std::exchange(other.mapped_size_, 0);
    }
    return *this;
  }
  SharedMemoryView(const SharedMemoryView&) = delete;
  SharedMemoryView& operator=(const SharedMemoryView&) = delete;

  void* data() const { return data_; }
  std::size_t size() const { return size_; }
  void Unmap();

 private:
  friend class SharedMemory;
  void* data_ = nullptr;
  std::size_t size_ = 0;
  void* mapping_ = nullptr;     // what to unmap
  std::size_t mapped_size_ = 0;
};

// Owner of a handle to a named block.
class SharedMemory {
 public:
  SharedMemory();
  ~SharedMemory();
  SharedMemory(SharedMemory&& other) noexcept;
  SharedMemory& operator=(SharedMemory&& other) noexcept;
  SharedMemory(const SharedMemory&) = delete;
  SharedMemory& operator=(const SharedMemory&) = delete;

  // Creates a block of `size` zero bytes, or opens the existing one (not an error).
  ErrorCode CreateOrOpen(const std::wstring& name, std::uint32_t size);
  // Opens an existing block for all access: 2 when no live process created it.
  ErrorCode Open(const std::wstring& name);
  void Close();

  // Maps `size` bytes from offset 0. 0, or the Win32 error.
  ErrorCode Map(ViewAccess access, std::size_t size, SharedMemoryView& view) const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace platform
