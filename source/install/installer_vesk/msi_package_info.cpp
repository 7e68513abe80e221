#include "installer_vesk/msi_package_info.h"

#include <mutex>
#include <stdexcept>
#include <utility>

#include "installer_vesk/interop_helpers.h"
#include "installer_vesk/msi_ready.h"
#include "msi_wrapper/msi_database.h"
#include "msi_wrapper/package_file.h"

namespace installer {
namespace {

namespace msi = msi_wrapper;

std::mutex package_mutex;  // creation and release of the package object
std::shared_ptr<const msi::MsiProductInfoInterface> package;

}  // namespace

std::shared_ptr<const msi::MsiProductInfoInterface> GetPackageInstance() {
  {
    std::lock_guard<std::mutex> lock(package_mutex);
    if (package) {
      return package;
    }
  }
  // Outside the lock: a release meanwhile need not wait for the bootstrapper.
  WaitForMsiReady();
  std::lock_guard<std::mutex> lock(package_mutex);
  if (package) {
    return package;
  }
  const std::wstring path = GetExecutableDirectory() + msi::DefaultMsiFileName;  // the directory ends with a separator
  UINT error = ERROR_SUCCESS;
  std::shared_ptr<const msi::MsiProductInfoInterface> created = msi::CreateMsiProductInfo(path, error);
  if (!created) {
    throw std::runtime_error("msiProductInfo error: " + std::to_string(error));
  }
  package = std::move(created);
  return package;
}

void ReleasePackageInstance() {
  std::shared_ptr<const msi::MsiProductInfoInterface> released;
  std::lock_guard<std::mutex> lock(package_mutex);
  released.swap(package);  // destroyed after the lock is let go
}

}  // namespace installer

using installer::GetPackageInstance;

std::wstring MsiPackageInfo::getProductName() { return GetPackageInstance()->GetProductName(); }

std::wstring MsiPackageInfo::getInstallDirectory() { return GetPackageInstance()->GetInstallDirectory(); }

std::wstring MsiPackageInfo::getMsiFilePath() { return GetPackageInstance()->GetMsiFilePath(); }

std::wstring MsiPackageInfo::getProductCode() { return GetPackageInstance()->GetProductCode(); }

std::wstring MsiPackageInfo::getEdition() { return GetPackageInstance()->GetProperty(L"EDITION"); }

std::wstring MsiPackageInfo::getProperty(std::wstring name) { return GetPackageInstance()->GetProperty(name); }

std::int32_t MsiPackageInfo::getProductFeatures(std::vector<installer::msi_wrapper::ProductFeature>& features) {
  return static_cast<std::int32_t>(GetPackageInstance()->GetProductFeatures(features));
}

std::int32_t MsiPackageInfo::getSetupType() {
  return static_cast<std::int32_t>(GetPackageInstance()->GetSetupType());
}

std::vector<std::wstring> MsiPackageInfo::getCabFileNames() { return GetPackageInstance()->GetCabFileNames(); }

bool MsiPackageInfo::getConflictedProductInfo(installer::InstalledProductInfo& info) {
  return installer::FindConflictingProduct(info);
}

std::wstring MsiPackageInfo::getRebrandingCode() { return GetPackageInstance()->GetProperty(L"REBRANDING_CODE"); }

std::wstring MsiPackageInfo::getPremiumLink() { return GetPackageInstance()->GetProperty(L"GETPREMIUM_LINK"); }

std::vector<std::vector<std::wstring>> MsiPackageInfo::executeQuery(std::wstring query) {
  std::vector<std::vector<std::wstring>> rows;
  const std::wstring path = GetPackageInstance()->GetMsiFilePath();
  UINT error = ERROR_SUCCESS;
  const std::unique_ptr<installer::msi_wrapper::MsiDatabase> database =
      installer::msi_wrapper::OpenMsiDatabase(path, error);
  std::unique_ptr<installer::msi_wrapper::MsiView> view;
  if (!database || database->OpenView(query, view) != ERROR_SUCCESS) {
    return rows;
  }
  while (const std::unique_ptr<installer::msi_wrapper::MsiRecord> record = view->Fetch()) {
    const unsigned fields = record->GetFieldCount();
    std::vector<std::wstring>& row = rows.emplace_back();
    row.reserve(fields);
    for (unsigned field = 1; field <= fields; ++field) {
      row.push_back(record->GetString(field));
    }
  }
  return rows;
}
