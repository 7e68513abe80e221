#include "named_object.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <new>
#include <string_view>

#include "error_from_errno.h"
#include "ovra/strings.h"
#include "platform/named_object_diagnostics.h"

namespace platform::posix_detail {
namespace {

// Held while an object is created, replaced or removed. The file itself is never removed.
constexpr char kCreationLockName[] = "/platform-named-objects.lock";
// Where shm_open keeps its objects, to see who owns one we may not open.
constexpr char kShmFolder[] = "/dev/shm";
// Objects are private to their creator's user: only it may read or write them.
constexpr mode_t kObjectMode = 0600;

uid_t EffectiveUser() { return geteuid(); }
std::atomic<AcceptedOwnerSource> accepted_owner{&EffectiveUser};

// An object another user owns could hold what that user planted, or show it what
// we write: it is refused, and counts as absent.
bool IsAccepted(const std::string& posix_name, uid_t owner) {
  const uid_t expected = accepted_owner.load()();
  if (owner == expected) return true;
  ReportNamedObjectDiagnostic("named object " + posix_name + " belongs to user " + std::to_string(owner) +
                              ", not to user " + std::to_string(expected) + ": refused, treated as absent");
  return false;
}

struct SegmentHeader {
  std::atomic<std::uint32_t> kind;  // 0 until the object is complete
  std::uint32_t payload_size;
  std::int64_t creator_process_id;  // for diagnostics; liveness comes from the creator's lock
};
static_assert(std::atomic<std::uint32_t>::is_always_lock_free, "the header is shared between processes");
// The payload starts here, aligned for the process-shared synchronisation objects.
constexpr std::size_t kPayloadOffset = 64;
static_assert(sizeof(SegmentHeader) <= kPayloadOffset);

class CreationLock {
 public:
  CreationLock() = default;
  ~CreationLock() {
    if (fd_ >= 0) close(fd_);  // releases the lock
  }
  CreationLock(const CreationLock&) = delete;
  CreationLock& operator=(const CreationLock&) = delete;

  ErrorCode Acquire() {
    // Read access is enough for flock, so other users may share the file.
    fd_ = shm_open(kCreationLockName, O_RDONLY | O_CREAT, 0644);
    if (fd_ < 0) return ErrorFromErrno(errno);
    fchmod(fd_, 0644);  // past the umask; fails harmlessly when another user owns it
    while (flock(fd_, LOCK_EX) != 0) {
      if (errno != EINTR) return ErrorFromErrno(errno);
    }
    return kErrorSuccess;
  }

 private:
  int fd_ = -1;
};

}  // namespace

AcceptedOwnerSource SetAcceptedOwnerSource(AcceptedOwnerSource source) {
  return accepted_owner.exchange(source ? source : &EffectiveUser);
}

ErrorCode MapObjectName(const std::wstring& name, std::string& posix_name) {
  constexpr std::wstring_view kGlobal = L"Global\\";
  constexpr std::wstring_view kLocal = L"Local\\";
  std::wstring_view leaf = name;
  std::string mapped = "/Local.";
  if (leaf.substr(0, kGlobal.size()) == kGlobal) {
    leaf.remove_prefix(kGlobal.size());
    mapped = "/Global.";
  } else if (leaf.substr(0, kLocal.size()) == kLocal) {
    leaf.remove_prefix(kLocal.size());
  }
  if (leaf.find(L'\\') != std::wstring_view::npos) return kErrorPathNotFound;
  if (leaf.empty() || leaf.find(L'/') != std::wstring_view::npos || leaf.find(L'\0') != std::wstring_view::npos) {
    return kErrorInvalidName;
  }
  mapped += ovra::Utf8FromWide(std::wstring(leaf));
  if (mapped.size() - 1 > NAME_MAX) return kErrorNameTooLong;
  posix_name = std::move(mapped);
  return kErrorSuccess;
}

NamedSegment::~NamedSegment() { Release(); }

std::size_t NamedSegment::payload_offset() { return kPayloadOffset; }

void* NamedSegment::payload() const { return base_ == nullptr ? nullptr : static_cast<char*>(base_) + kPayloadOffset; }

std::size_t NamedSegment::payload_size() const {
  return base_ == nullptr ? 0 : static_cast<const SegmentHeader*>(base_)->payload_size;
}

bool NamedSegment::IsCreatorAlive() const {
  if (creator_) return true;
  // The creator holds LOCK_EX for as long as its handle is open; a shared lock is
  // granted only when it is gone. Probers share the lock, so they never block each other.
  if (flock(fd_, LOCK_SH | LOCK_NB) == 0) {
    flock(fd_, LOCK_UN);
    return false;
  }
  return true;  // EWOULDBLOCK; any other failure is no proof of death either
}

ErrorCode NamedSegment::Open(const std::wstring& name, ObjectKind kind) {
  Release();
  std::string posix_name;
  if (const ErrorCode error = MapObjectName(name, posix_name)) return error;
  return OpenMapped(posix_name, kind);
}

ErrorCode NamedSegment::OpenMapped(const std::string& posix_name, ObjectKind kind) {
  struct stat info {};
  fd_ = shm_open(posix_name.c_str(), O_RDWR, 0);
  if (fd_ < 0) {
    const int error = errno;
    // Another user's private object cannot even be opened.
    if (error == EACCES && stat((kShmFolder + posix_name).c_str(), &info) == 0 &&
        !IsAccepted(posix_name, info.st_uid)) {
      return kErrorFileNotFound;
    }
    return ErrorFromErrno(error);
  }
  const auto fail = [this](ErrorCode error) {
    Release();
    return error;
  };
  if (fstat(fd_, &info) != 0) return fail(ErrorFromErrno(errno));
  if (!IsAccepted(posix_name, info.st_uid)) return fail(kErrorFileNotFound);
  // A creator locks its object before giving it a size; a smaller one is still being made.
  if (info.st_size < static_cast<off_t>(kPayloadOffset)) return fail(kErrorFileNotFound);
  void* base = mmap(nullptr, static_cast<std::size_t>(info.st_size), PROT_READ | PROT_WRITE, MAP_SHARED, fd_, 0);
  if (base == MAP_FAILED) return fail(ErrorFromErrno(errno));
  base_ = base;
  mapped_size_ = static_cast<std::size_t>(info.st_size);
  if (!IsCreatorAlive()) return fail(kErrorFileNotFound);
  const auto* header = static_cast<const SegmentHeader*>(base_);
  const std::uint32_t published = header->kind.load(std::memory_order_acquire);
  if (published == 0) return fail(kErrorFileNotFound);
  if (published != static_cast<std::uint32_t>(kind)) return fail(kErrorInvalidHandle);
  if (kPayloadOffset + header->payload_size > mapped_size_) return fail(kErrorInternal);
  posix_name_ = posix_name;
  return kErrorSuccess;
}

ErrorCode NamedSegment::OpenOrCreate(const std::wstring& name, ObjectKind kind, std::size_t payload_size,
                                     const std::function<ErrorCode(void* payload)>& initialize) {
  Release();
  std::string posix_name;
  if (const ErrorCode error = MapObjectName(name, posix_name)) return error;
  CreationLock lock;
  if (const ErrorCode error = lock.Acquire()) return error;

  const ErrorCode opened = OpenMapped(posix_name, kind);
  if (opened != kErrorFileNotFound) return opened;
  // Absent, left behind by a creator that has gone (no creator is at work: we hold the
  // lock), or another user's, which only that user (or root) can remove.
  if (shm_unlink(posix_name.c_str()) != 0 && errno != ENOENT) {
    const int error = errno;
    ReportNamedObjectDiagnostic("named object " + posix_name + " cannot be replaced: " + std::strerror(error));
    return ErrorFromErrno(error);
  }
  fd_ = shm_open(posix_name.c_str(), O_RDWR | O_CREAT | O_EXCL, kObjectMode);
  if (fd_ < 0) return ErrorFromErrno(errno);
  creator_ = true;
  posix_name_ = posix_name;
  const auto fail = [this](ErrorCode error) {
    ReleaseLocked();
    return error;
  };
  // The umask may have taken bits away (0400 would make it unwritable to us); it adds none.
  if (fchmod(fd_, kObjectMode) != 0) return fail(ErrorFromErrno(errno));
  while (flock(fd_, LOCK_EX) != 0) {
    if (errno != EINTR) return fail(ErrorFromErrno(errno));
  }
  const std::size_t size = kPayloadOffset + payload_size;
  if (ftruncate(fd_, static_cast<off_t>(size)) != 0) return fail(ErrorFromErrno(errno));
  void* base = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd_, 0);
  if (base == MAP_FAILED) return fail(ErrorFromErrno(errno));
  base_ = base;
  mapped_size_ = size;
  auto* header = new (base_) SegmentHeader{};
  header->payload_size = static_cast<std::uint32_t>(payload_size);
  header->creator_process_id = getpid();
  if (const ErrorCode error = initialize(payload())) return fail(error);
  header->kind.store(static_cast<std::uint32_t>(kind), std::memory_order_release);
  return kErrorSuccess;
}

void NamedSegment::Release() {
  if (creator_) {
    CreationLock lock;
    lock.Acquire();  // without it the name is still removed, only less carefully
    ReleaseLocked();
  } else {
    ReleaseLocked();
  }
}

void NamedSegment::ReleaseLocked() {
  if (creator_ && fd_ >= 0) {
    // Remove the name only while it still means this object.
    const int current = shm_open(posix_name_.c_str(), O_RDONLY, 0);
    if (current >= 0) {
      struct stat ours {}, theirs {};
      if (fstat(fd_, &ours) == 0 && fstat(current, &theirs) == 0 && ours.st_dev == theirs.st_dev &&
          ours.st_ino == theirs.st_ino) {
        shm_unlink(posix_name_.c_str());
      }
      close(current);
    }
  }
  if (base_ != nullptr) munmap(base_, mapped_size_);
  if (fd_ >= 0) close(fd_);  // drops the creator's lock
  base_ = nullptr;
  mapped_size_ = 0;
  fd_ = -1;
  creator_ = false;
  posix_name_.clear();
}

}  // namespace platform::posix_detail
