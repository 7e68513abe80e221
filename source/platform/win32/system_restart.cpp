#include "platform/system_restart.h"

#include <windows.h>

#include "platform/security_token.h"

namespace platform {
namespace {

// SHTDN_REASON_FLAG_PLANNED | SHTDN_REASON_MAJOR_OTHER | SHTDN_REASON_MINOR_MAINTENANCE
constexpr DWORD kPlannedMaintenance = 0x80000001;

class WindowsRestart final : public SystemRestart {
 public:
  ErrorCode Restart() override {
    if (const ErrorCode error = EnableProcessPrivilege("SeShutdownPrivilege")) return error;
    if (!ExitWindowsEx(EWX_REBOOT | EWX_FORCE, kPlannedMaintenance)) return GetLastError();
    return kErrorSuccess;
  }
};

}  // namespace

SystemRestart& SystemRestartService() {
  static WindowsRestart service;
  return service;
}

}  // namespace platform
