// Restarting the computer.
//
// Windows: enables SeShutdownPrivilege in the process token, then
// ExitWindowsEx(EWX_REBOOT | EWX_FORCE, planned/other/maintenance).
//
// POSIX: a program has no business restarting a development machine. Restart()
// returns ERROR_NOT_SUPPORTED (50) unless the environment variable
// INSTALLER_VESK_REBOOT_COMMAND names a command to run instead: it runs with
// /bin/sh -c and is waited for; 0 when it exits with 0, else ERROR_GEN_FAILURE (31).
#pragma once

#include "platform/error_code.h"

namespace platform {

inline constexpr char kRebootCommandVariable[] = "INSTALLER_VESK_REBOOT_COMMAND";

class SystemRestart {
 public:
  virtual ~SystemRestart() = default;
  // Asks for an immediate, forced restart. 0, or the Win32 error of the step that failed.
  virtual ErrorCode Restart() = 0;
};

// The system's own.
SystemRestart& SystemRestartService();

}  // namespace platform
