// The setup engine: drives Windows Installer for the product package through
// a preinstall pass (launch conditions, costing, validation; nothing is
// written), the installation, and the removal of an installed product. During
// each operation Windows Installer's own UI is off and its messages go to an
// external handler, which turns them into SetupProgress records for the
// engine's progress callback; the callback's answer goes back to Windows
// Installer (IDCANCEL cancels).
//
// At most one engine lives in the process: the handler, registered with a null
// context, finds it through a process-wide pointer.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "msi_wrapper/msi_api.h"
#include "msi_wrapper/package_file.h"
#include "msi_wrapper/setup_parameters.h"
#include "msi_wrapper/setup_progress.h"

namespace installer::msi_wrapper {

// Answers a record with IDOK (go on), IDCANCEL (cancel) or 0.
using SetupProgressCallback = std::function<int(const SetupProgress&)>;

class MsiSetupManagerInterface {
 public:
  virtual ~MsiSetupManagerInterface() = default;
  // Each returns the operation's Windows Installer result, unchanged.
  virtual UINT RunPreinstallTask(const std::vector<SetupParameter>& parameters, int log_level) const = 0;
  virtual UINT RunSetupTask(const std::vector<SetupParameter>& parameters, int log_level) const = 0;
  virtual UINT RunUninstallProduct(std::wstring product_code, std::wstring command_line, int log_level) const = 0;
};

// The engine, or an empty pointer while another engine lives. An empty
// `log_path` means no Windows Installer log.
std::unique_ptr<MsiSetupManagerInterface> CreateMsiSetupManager(SetupProgressCallback callback,
                                                                 std::wstring log_path);

// Windows Installer log mode for a log level: 1 errors only (0x4002), 3 all
// but files in use (0x1FDF), any other verbose with the property dump (0x1400).
DWORD MsiLogModeForLevel(int level);

}  // namespace installer::msi_wrapper
