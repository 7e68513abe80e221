#include "platform/named_event.h"

#include <pthread.h>
#include <time.h>

#include <cerrno>

#include "error_from_errno.h"
#include "named_object.h"

namespace platform {
namespace {

using posix_detail::NamedSegment;
using posix_detail::ObjectKind;

// The shared part of an event.
struct EventPayload {
  pthread_mutex_t mutex;  // process-shared, robust
  pthread_cond_t changed; // process-shared, on the monotonic clock
  std::uint32_t set;
};

ErrorCode InitializeEvent(void* payload) {
  auto* event = static_cast<EventPayload*>(payload);
  pthread_mutexattr_t mutex_attributes;
  pthread_mutexattr_init(&mutex_attributes);
  pthread_mutexattr_setpshared(&mutex_attributes, PTHREAD_PROCESS_SHARED);
  pthread_mutexattr_setrobust(&mutex_attributes, PTHREAD_MUTEX_ROBUST);
  int error = pthread_mutex_init(&event->mutex, &mutex_attributes);
  pthread_mutexattr_destroy(&mutex_attributes);
  if (error != 0) return posix_detail::ErrorFromErrno(error);

  pthread_condattr_t condition_attributes;
  pthread_condattr_init(&condition_attributes);
  pthread_condattr_setpshared(&condition_attributes, PTHREAD_PROCESS_SHARED);
  pthread_condattr_setclock(&condition_attributes, CLOCK_MONOTONIC);
  error = pthread_cond_init(&event->changed, &condition_attributes);
  pthread_condattr_destroy(&condition_attributes);
  if (error != 0) return posix_detail::ErrorFromErrno(error);
  event->set = 0;
  return kErrorSuccess;
}

// A process that died holding the mutex left nothing half done (the state is one
// word), so its lock is simply taken over.
int Recover(pthread_mutex_t* mutex, int result) {
  return result == EOWNERDEAD ? pthread_mutex_consistent(mutex) : result;
}

class Locked {
 public:
  explicit Locked(pthread_mutex_t* mutex) : mutex_(mutex), error_(Recover(mutex, pthread_mutex_lock(mutex))) {}
  ~Locked() {
    if (error_ == 0) pthread_mutex_unlock(mutex_);
  }
  Locked(const Locked&) = delete;
  Locked& operator=(const Locked&) = delete;
  int error() const { return error_; }

 private:
  pthread_mutex_t* mutex_;
  int error_;
};

timespec DeadlineAfter(std::chrono::milliseconds interval) {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  const long long nanoseconds = now.tv_nsec + static_cast<long long>(interval.count()) * 1000000;
  now.tv_sec += static_cast<time_t>(nanoseconds / 1000000000);
  now.tv_nsec = static_cast<long>(nanoseconds % 1000000000);
  return now;
}

}  // namespace

struct NamedEvent::State {
  NamedSegment segment;
  bool may_wait = true;
  bool may_set = true;

  EventPayload* event() const { return static_cast<EventPayload*>(segment.payload()); }
};

NamedEvent::NamedEvent() = default;
NamedEvent::~NamedEvent() = default;
NamedEvent::NamedEvent(NamedEvent&& other) noexcept = default;
NamedEvent& NamedEvent::operator=(NamedEvent&& other) noexcept = default;

ErrorCode NamedEvent::Open(const std::wstring& name, EventAccess access) {
  Close();
  auto state = std::make_unique<State>();
  if (const ErrorCode error = state->segment.Open(name, ObjectKind::kEvent)) return error;
  state->may_wait = access == EventAccess::kWait;
  state->may_set = access == EventAccess::kSet;
  state_ = std::move(state);
  return kErrorSuccess;
}

ErrorCode NamedEvent::Create(const std::wstring& name) {
  Close();
  auto state = std::make_unique<State>();
  if (const ErrorCode error =
          state->segment.OpenOrCreate(name, ObjectKind::kEvent, sizeof(EventPayload), InitializeEvent)) {
    return error;
  }
  state_ = std::move(state);
  return kErrorSuccess;
}

void NamedEvent::Close() { state_.reset(); }

ErrorCode NamedEvent::Set() {
  if (!state_) return kErrorInvalidHandle;
  if (!state_->may_set) return kErrorAccessDenied;
  EventPayload* event = state_->event();
  Locked lock(&event->mutex);
  if (lock.error() != 0) return posix_detail::ErrorFromErrno(lock.error());
  event->set = 1;
  pthread_cond_broadcast(&event->changed);
  return kErrorSuccess;
}

std::uint32_t NamedEvent::Wait() {
  if (!state_ || !state_->may_wait) return kWaitFailed;
  EventPayload* event = state_->event();
  Locked lock(&event->mutex);
  if (lock.error() != 0) return kWaitFailed;
  while (event->set == 0) {
    // Blocks; wakes only when set, or now and then to see whether the creator is still there.
    const timespec deadline = DeadlineAfter(kCreatorCheckInterval);
    const int result = Recover(&event->mutex, pthread_cond_timedwait(&event->changed, &event->mutex, &deadline));
    if (result == ETIMEDOUT) {
      if (event->set == 0 && !state_->segment.IsCreatorAlive()) return kWaitAbandoned;
    } else if (result != 0) {
      return kWaitFailed;
    }
  }
  return kWaitSignalled;
}

bool NamedEvent::IsSet() {
  if (!state_ || !state_->may_wait) return false;
  EventPayload* event = state_->event();
  Locked lock(&event->mutex);
  return lock.error() == 0 && event->set != 0;
}

}  // namespace platform
