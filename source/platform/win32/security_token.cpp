#include "platform/security_token.h"

#include <windows.h>

#include "kernel_handle.h"

namespace platform {

ErrorCode EnableProcessPrivilege(const char* privilege) {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) return GetLastError();
  const KernelHandle owner(token);
  TOKEN_PRIVILEGES privileges{};
  privileges.PrivilegeCount = 1;
  privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  if (!LookupPrivilegeValueA(nullptr, privilege, &privileges.Privileges[0].Luid)) return GetLastError();
  if (!AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr)) return GetLastError();
  return kErrorSuccess;
}

ImpersonationPause::~ImpersonationPause() {
  if (token_ == nullptr) return;
  ImpersonateLoggedOnUser(token_);
  CloseHandle(token_);
}

ErrorCode ImpersonationPause::Suspend() {
  HANDLE token = nullptr;
  if (!OpenThreadToken(GetCurrentThread(), TOKEN_DUPLICATE | TOKEN_IMPERSONATE | TOKEN_QUERY, TRUE, &token)) {
    const DWORD error = GetLastError();
    return error == ERROR_NO_TOKEN ? kErrorSuccess : error;
  }
  token_ = token;
  RevertToSelf();
  return kErrorSuccess;
}

}  // namespace platform
