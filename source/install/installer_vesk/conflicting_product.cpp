#include "installer_vesk/conflicting_product.h"

#include <memory>
#include <vector>

#include "installer_vesk/msi_package_info.h"
#include "msi_wrapper/msi_database.h"
#include "msi_wrapper/product_info.h"
#include "msi_wrapper/product_version.h"

namespace installer {
namespace {

namespace msi = msi_wrapper;

constexpr int kBetaAttributes = msidbUpgradeAttributesVersionMinInclusive | msidbUpgradeAttributesVersionMaxInclusive;
constexpr int kFamilyAttributes = msidbUpgradeAttributesMigrateFeatures;

}  // namespace

bool FindConflictingProduct(InstalledProductInfo& info) {
  const std::shared_ptr<const msi::MsiProductInfoInterface> package = GetPackageInstance();
  UINT error = ERROR_SUCCESS;
  const std::unique_ptr<msi::MsiDatabase> database = msi::OpenMsiDatabase(package->GetMsiFilePath(), error);
  std::unique_ptr<msi::MsiView> view;
  if (!database ||
      database->OpenView(L"select UpgradeCode, Attributes from Upgrade where Attributes<>2", view) != ERROR_SUCCESS) {
    return false;
  }
  std::vector<std::wstring> related;
  while (const std::unique_ptr<msi::MsiRecord> record = view->Fetch()) {
    if (msi::FindRelatedProduct(record->GetString(1), related) != ERROR_SUCCESS) {
      continue;
    }
    UINT installed_error = ERROR_SUCCESS;
    const std::unique_ptr<msi::MsiProductInfoInterface> installed =
        msi::CreateMsiProductInstalledInfo(related.front(), installed_error);
    if (!installed) {
      continue;
    }
    const std::wstring package_version = package->GetProperty(L"ProductVersion");
    const std::wstring installed_version = installed->GetProperty(INSTALLPROPERTY_VERSIONSTRING);
    const int attributes = record->GetInteger(2);
    info.isBeta = attributes == kBetaAttributes;
    info.isQarn = attributes == kBetaAttributes || attributes == kFamilyAttributes;
    info.isTheSame = package->GetSetupType() == msi::SetupType::SamePackage;
    info.productName = installed->GetProductName();
    info.productCode = installed->GetProductCode();
    info.isDowngrade = info.isQarn && IsDowngrade(package_version, installed_version);
    return true;
  }
  return false;
}

bool IsDowngrade(const std::wstring& package_version, const std::wstring& installed_version) {
  if (package_version.empty() || installed_version.empty()) {
    return false;
  }
  return msi::MsiProductVersion(package_version) < msi::MsiProductVersion(installed_version);
}

}  // namespace installer
