#include "installer_vesk/installer_controller.h"

#include <mutex>

#include "installer_vesk/bootstrapper_objects.h"
#include "installer_vesk/interop_helpers.h"
#include "installer_vesk/tracer.h"
#include "platform/named_event.h"
#include "platform/os_version.h"

namespace installer {
namespace {

std::wstring FormatVersion(const platform::OsVersion& version) {
  return L"osMajorVer=" + std::to_wstring(version.major) + L" osMinorVer=" + std::to_wstring(version.minor) +
         L" osBuildNumber=" + std::to_wstring(version.build) + L" osServicePackNumber=" +
         std::to_wstring(version.service_pack_major) + L" osEdition=" + std::to_wstring(version.suite_mask) +
         L" osProductType=" + std::to_wstring(version.product_type);
}

}  // namespace

ControllerServices SystemControllerServices() {
  return ControllerServices{platform::SystemRestartService(), machine_id::SystemSources()};
}

AppController::AppController() : AppController(SystemControllerServices()) {}

AppController::AppController(ControllerServices services) : services_(services) {}

std::int32_t AppController::reboot() {
  const platform::ErrorCode result = services_.restart.Restart();
  if (result == platform::kErrorNotSupported) {
    InstallerRecord() << "Reboot is not supported here: " << result;
  }
  return static_cast<std::int32_t>(result);
}

std::wstring AppController::getCommandLine() {
  const CommandLineMapping mapping;
  std::wstring text;
  ReadSharedCommandLine(text);  // after a failure the text stays empty
  TraceRecord(kDetailTraceLevel) << text;
  return text;
}

std::wstring AppController::getWindowsVersionProperty() {
  static std::mutex mutex;
  static std::wstring cached;
  std::wstring text;
  {
    std::lock_guard<std::mutex> lock(mutex);
    if (!cached.empty()) return cached;
    platform::OsVersion version;
    if (platform::ReadOsVersion(version) != platform::kErrorSuccess) return {};
    cached = text = FormatVersion(version);
  }
  InstallerRecord(kDetailTraceLevel) << text;  // once: only the call that computed it gets here
  return text;
}

std::int32_t AppController::hideSplashScreen() {
  platform::NamedEvent splash;
  const platform::ErrorCode opened = splash.Open(kSplashEventName, platform::EventAccess::kSet);
  InstallerRecord() << opened;
  if (opened == platform::kErrorSuccess) {
    InstallerRecord() << "Set gui event" << (splash.Set() == platform::kErrorSuccess ? 1 : 0);
  }
  InstallerRecord() << "Hide splash screen";
  return 0;
}

std::string AppController::getMachineId() { return machine_id::GenerateMachineId(services_.machine_id); }

}  // namespace installer
