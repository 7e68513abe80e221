// "installer_controller": the machine-level services of the user interface: restart,
// the bootstrapper's command line, the Windows version text, hiding the bootstrapper's
// splash screen and the machine identifier.
#pragma once

#include <cstdint>
#include <string>

#include "machine_id/machine_id.h"
#include "platform/system_restart.h"

namespace installer {

// The system services the controller works through; tests give their own.
struct ControllerServices {
  platform::SystemRestart& restart;
  machine_id::Sources machine_id;
};

ControllerServices SystemControllerServices();

// Keeps no state of its own: the Windows version text is cached process-wide.
class AppController {
 public:
  AppController();
  explicit AppController(ControllerServices services);

  // Restarts the computer at once, forcibly: 0, or the Win32 error of the step that
  // failed. On Linux 50 (with a trace record) unless INSTALLER_VESK_REBOOT_COMMAND is
  // set (platform/system_restart.h).
  std::int32_t reboot();
  // The bootstrapper's command line from the shared block ("" when no bootstrapper
  // wrote one), also written to the trace at level 800. Throws
  // ovra::ResultCodeException when the block cannot be created or mapped.
  std::wstring getCommandLine();
  // "osMajorVer=10 osMinorVer=0 osBuildNumber=19045 osServicePackNumber=0 osEdition=256
  // osProductType=1"; computed once per process (empty, and tried again next time, when
  // the version cannot be read) and then traced at level 800.
  std::wstring getWindowsVersionProperty();
  // Sets the bootstrapper's hide-splash event if there is one; always 0.
  std::int32_t hideSplashScreen();
  // The machine identifier (machine_id/machine_id.h).
  std::string getMachineId();

 private:
  ControllerServices services_;
};

}  // namespace installer
