// Named, manual-reset events shared between processes: the bootstrapper creates
// them, the user interface opens them to wait or to set.
//
// Windows: CreateEventW / OpenEventW / SetEvent / WaitForSingleObject.
//
// POSIX: a shared-memory object (see shared_memory.h for how names map) holding a
// process-shared robust mutex, a condition variable and the flag. An event counts
// as existing only while its creator's handle is open: the creator holds an
// exclusive flock on the object, which the kernel drops when that process ends,
// so an event left behind by a crashed creator opens as ERROR_FILE_NOT_FOUND and
// is replaced by the next Create. A waiter blocks on the condition variable; every
// kCreatorCheckInterval it wakes to see whether the creator still holds its lock,
// and a wait whose creator has gone returns kWaitAbandoned instead of blocking for
// ever. (On Windows the waiter's own handle keeps the event alive: that wait does
// block until someone sets it.)
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/error_code.h"

namespace platform {

// What a handle opened with Open may do: SYNCHRONIZE or EVENT_MODIFY_STATE.
enum class EventAccess { kWait, kSet };

// WaitForSingleObject's results.
inline constexpr std::uint32_t kWaitSignalled = 0;           // WAIT_OBJECT_0
inline constexpr std::uint32_t kWaitAbandoned = 0x80;        // WAIT_ABANDONED: the creator ended first
inline constexpr std::uint32_t kWaitFailed = 0xFFFFFFFFu;    // WAIT_FAILED

// POSIX: how often a waiter looks whether the event's creator is still alive.
inline constexpr std::chrono::milliseconds kCreatorCheckInterval{250};

class NamedEvent {
 public:
  NamedEvent();
  ~NamedEvent();
  NamedEvent(NamedEvent&& other) noexcept;
  NamedEvent& operator=(NamedEvent&& other) noexcept;
  NamedEvent(const NamedEvent&) = delete;
  NamedEvent& operator=(const NamedEvent&) = delete;

  // Opens an existing event (the handle is not inherited). 0, or the Win32 error:
  // 2 when no live process created it, 6 when the name belongs to another kind of object.
  ErrorCode Open(const std::wstring& name, EventAccess access);
  // Creates a manual-reset event, not set; an existing one is opened instead. Full access.
  ErrorCode Create(const std::wstring& name);
  void Close();

  // Sets the event; it stays set. 0, or the Win32 error (5 for a handle opened to wait).
  ErrorCode Set();
  // Blocks until the event is set, without a time-out: kWaitSignalled, kWaitAbandoned
  // (POSIX: its creator ended), or kWaitFailed (e.g. a handle opened to set).
  std::uint32_t Wait();
  // Whether the event is set now; false on a handle that may not wait.
  bool IsSet();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace platform
