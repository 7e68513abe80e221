#include "platform/named_event.h"

#include <windows.h>

#include "kernel_handle.h"

namespace platform {

struct NamedEvent::State {
  explicit State(HANDLE object) : handle(object) {}
  KernelHandle handle;
};

NamedEvent::NamedEvent() = default;
NamedEvent::~NamedEvent() = default;
NamedEvent::NamedEvent(NamedEvent&& other) noexcept = default;
NamedEvent& NamedEvent::operator=(NamedEvent&& other) noexcept = default;

ErrorCode NamedEvent::Open(const std::wstring& name, EventAccess access) {
  Close();
  const DWORD rights = access == EventAccess::kWait ? SYNCHRONIZE : EVENT_MODIFY_STATE;
  const HANDLE event = OpenEventW(rights, FALSE, name.c_str());
  if (event == nullptr) return GetLastError();
  state_ = std::make_unique<State>(event);
  return kErrorSuccess;
}

ErrorCode NamedEvent::Create(const std::wstring& name) {
  Close();
  // Manual reset, not set; ERROR_ALREADY_EXISTS (an existing event opened) is success.
  const HANDLE event = CreateEventW(nullptr, TRUE, FALSE, name.c_str());
  if (event == nullptr) return GetLastError();
  state_ = std::make_unique<State>(event);
  return kErrorSuccess;
}

void NamedEvent::Close() { state_.reset(); }

ErrorCode NamedEvent::Set() {
  if (!state_) return ERROR_INVALID_HANDLE;
  return SetEvent(state_->handle.get()) ? kErrorSuccess : GetLastError();
}

std::uint32_t NamedEvent::Wait() {
  if (!state_) return WAIT_FAILED;
  return WaitForSingleObject(state_->handle.get(), INFINITE);
}

bool NamedEvent::IsSet() { return state_ && WaitForSingleObject(state_->handle.get(), 0) == WAIT_OBJECT_0; }

}  // namespace platform
