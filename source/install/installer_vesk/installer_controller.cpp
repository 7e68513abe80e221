#include "installer_vesk/installer_controller.h"

#include <memory>
#include <mutex>
#include <stdexcept>

#include "installer_vesk/bootstrapper_objects.h"
#include "installer_vesk/interop_helpers.h"
#include "installer_vesk/trace_record.h"
#include "msi_wrapper/msi_database.h"
#include "msi_wrapper/package_file.h"
#include "msi_wrapper/product_info.h"
#include "platform/named_event.h"
#include "platform/os_version.h"
#include "platform/shell_start.h"

namespace installer {
namespace {

std::wstring FormatVersion(const platform::OsVersion& version) {
  return L"osMajorVer=" + std::to_wstring(version.major) + L" osMinorVer=" + std::to_wstring(version.minor) +
         L" osBuildNumber=" + std::to_wstring(version.build) + L" osServicePackNumber=" +
         std::to_wstring(version.service_pack_major) + L" osEdition=" + std::to_wstring(version.suite_mask) +
         L" osProductType=" + std::to_wstring(version.product_type);
}

}  // namespace

const wchar_t kPreReleaseProductCode[] = L"{0F30C04E-E20E-4A5D-95AE-BF041D6CF673}";

std::wstring ShellExecTargetProgram(const std::wstring& target) {
  if (target.size() < 2) throw std::out_of_range("invalid string position");
  const std::wstring::size_type close = target.find(L']', 2);
  if (target.compare(0, 2, L"[#") == 0 && close != std::wstring::npos) return target.substr(2, close - 2);
  return target.substr(2);
}

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

std::int32_t AppController::startProduct() {
  UINT error = ERROR_SUCCESS;
  const auto package = msi_wrapper::CreateMsiProductInfo(msi_wrapper::DefaultMsiFileName, error);
  if (!package) return static_cast<std::int32_t>(error);
  const std::wstring directory = package->GetInstallDirectory();
  const std::wstring program = ShellExecTargetProgram(package->GetProperty(L"WixShellExecTarget"));
  const std::uint32_t started = platform::ShellStart(program, directory);
  return started > platform::kShellStartLastError ? 0 : static_cast<std::int32_t>(started);
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

std::wstring AppController::getCurrentPath() { return GetExecutableDirectory(); }

std::int32_t AppController::fixBeta() {
  UINT error = ERROR_UNKNOWN_PRODUCT;
  const auto product = msi_wrapper::CreateMsiProductInstalledInfo(kPreReleaseProductCode, error);
  if (!product) return static_cast<std::int32_t>(error);
  const auto database = msi_wrapper::OpenMsiDatabase(product->GetProperty(L"LocalPackage"), error,
                                                     msi_wrapper::MsiOpenMode::kDirect);
  if (!database) return static_cast<std::int32_t>(error);
  {
    std::unique_ptr<msi_wrapper::MsiView> view;
    error = database->OpenView(L"select * from Property", view);
    if (error != ERROR_SUCCESS) return static_cast<std::int32_t>(error);
    const auto record = view->CreateRecord(2);
    if ((error = record->SetString(1, L"AGREETOEULA")) != ERROR_SUCCESS ||
        (error = record->SetString(2, L"1")) != ERROR_SUCCESS ||
        (error = view->Insert(record)) != ERROR_SUCCESS) {
      return static_cast<std::int32_t>(error);
    }
  }
  // Without a commit, closing a direct-mode database drops the insert.
  return static_cast<std::int32_t>(database->Commit());
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
