// The process token's privileges, and the calling thread's impersonation.
//
// Windows: OpenProcessToken / LookupPrivilegeValueA / AdjustTokenPrivileges, and
// OpenThreadToken / RevertToSelf / ImpersonateLoggedOnUser. POSIX has neither
// privileges of this kind nor impersonation: enabling succeeds and nothing is suspended.
#pragma once

#include "platform/error_code.h"

namespace platform {

// Enables `privilege` ("SeShutdownPrivilege") in the process token. 0, or the Win32
// error of the first step that failed: opening the token, looking the name up, adjusting.
ErrorCode EnableProcessPrivilege(const char* privilege);

// Runs the calling thread with the process identity from Suspend() until destruction,
// which impersonates the captured token again (a failure there is ignored).
class ImpersonationPause {
 public:
  ImpersonationPause() = default;
  ~ImpersonationPause();
  ImpersonationPause(const ImpersonationPause&) = delete;
  ImpersonationPause& operator=(const ImpersonationPause&) = delete;

  // 0 when the thread now runs as the process, also when it was not impersonating
  // (ERROR_NO_TOKEN); otherwise the Win32 error of opening the thread's token, and
  // nothing changed.
  ErrorCode Suspend();

 private:
  void* token_ = nullptr;  // Windows: the thread's impersonation token while suspended
};

}  // namespace platform
