// "installer_controller": the machine-level services of the user interface: restart,
// starting the installed product, the bootstrapper's command line, the Windows version
// text, the application folder, repairing a pre-release installation, hiding the
// bootstrapper's splash screen and the machine identifier.
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

// The pre-release product whose cached package fixBeta repairs.
extern const wchar_t kPreReleaseProductCode[];

// The program a "WixShellExecTarget" value names: the text between "[#" and the
// closing "]" when the value has that form, else the value without its first two
// characters. Throws std::out_of_range("invalid string position") for a value
// shorter than 2 characters.
std::wstring ShellExecTargetProgram(const std::wstring& target);

// Keeps no state of its own: the Windows version text is cached process-wide.
class AppController {
 public:
  AppController();
  explicit AppController(ControllerServices services);

  // Restarts the computer at once, forcibly: 0, or the Win32 error of the step that
  // failed. On Linux 50 (with a trace record) unless INSTALLER_VESK_REBOOT_COMMAND is
  // set (platform/system_restart.h).
  std::int32_t reboot();
  // Starts the program named by the package's "WixShellExecTarget" in the install
  // directory, hidden: 0, the code of opening the package in the current directory,
  // or the shell's error (0 to 32). Throws std::out_of_range when the property is
  // missing or shorter than 2 characters.
  std::int32_t startProduct();
  // The bootstrapper's command line from the shared block ("" when no bootstrapper
  // wrote one), also written to the trace at level 800. Throws
  // ovra::ResultCodeException when the block cannot be created or mapped.
  std::wstring getCommandLine();
  // "osMajorVer=10 osMinorVer=0 osBuildNumber=19045 osServicePackNumber=0 osEdition=256
  // osProductType=1"; computed once per process (empty, and tried again next time, when
  // the version cannot be read) and then traced at level 800.
  std::wstring getWindowsVersionProperty();
  // The host executable's directory with one trailing separator (computed once).
  std::wstring getCurrentPath();
  // Adds AGREETOEULA=1 to the pre-release product's cached package and commits it:
  // 0, ERROR_UNKNOWN_PRODUCT when that product is not installed, or the MSI error of
  // the step that failed (a package that already has the row gives the insert's).
  std::int32_t fixBeta();
  // Sets the bootstrapper's hide-splash event if there is one; always 0.
  std::int32_t hideSplashScreen();
  // The machine identifier (machine_id/machine_id.h).
  std::string getMachineId();

 private:
  ControllerServices services_;
};

}  // namespace installer
