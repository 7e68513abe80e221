// Shared machinery of the POSIX named objects (events and shared-memory blocks):
// name mapping and one published segment per object.
// The scheme is described in platform/shared_memory.h.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "platform/error_code.h"

namespace platform::posix_detail {

// The shm name of a Windows object name, or a Win32 error.
ErrorCode MapObjectName(const std::wstring& name, std::string& posix_name);

// The user whose objects are accepted: the effective user. Tests put another one
// in place to see their own objects as another user's; null puts the effective
// user back. Returns the previous source.
using AcceptedOwnerSource = uid_t (*)();
AcceptedOwnerSource SetAcceptedOwnerSource(AcceptedOwnerSource source);

enum class ObjectKind : std::uint32_t {
  kEvent = 0x45564e31,    // "EVN1"
  kSection = 0x53454331,  // "SEC1"
};

// One named object: its descriptor and a read/write mapping of header and payload.
class NamedSegment {
 public:
  NamedSegment() = default;
  // The creator removes the name (when it is still its object); then unmaps and closes,
  // which releases the creator's lock.
  ~NamedSegment();
  NamedSegment(const NamedSegment&) = delete;
  NamedSegment& operator=(const NamedSegment&) = delete;

  // Opens a published object of `kind` whose creator is alive: 0; 2 when there is none
  // (or only a stale one, or one another user owns); 6 when the name belongs to another kind.
  ErrorCode Open(const std::wstring& name, ObjectKind kind);
  // Opens the live object as Open does, or creates one with `payload_size` zero bytes,
  // lets `initialize` fill its payload, and publishes it; `initialize`'s error undoes it.
  ErrorCode OpenOrCreate(const std::wstring& name, ObjectKind kind, std::size_t payload_size,
                         const std::function<ErrorCode(void* payload)>& initialize);

  void* payload() const;
  std::size_t payload_size() const;
  int descriptor() const { return fd_; }
  // Offset of the payload in the object.
  static std::size_t payload_offset();
  // True while the creator's handle is open (always, seen from the creator itself).
  bool IsCreatorAlive() const;

 private:
  ErrorCode OpenMapped(const std::string& posix_name, ObjectKind kind);
  void Release();
  void ReleaseLocked();  // with the creation lock held (or not needed)

  std::string posix_name_;
  int fd_ = -1;
  void* base_ = nullptr;
  std::size_t mapped_size_ = 0;
  bool creator_ = false;
};

}  // namespace platform::posix_detail
