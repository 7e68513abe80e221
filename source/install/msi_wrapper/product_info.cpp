#include "msi_wrapper/product_info.h"

#include <stdexcept>
#include <utility>

#include "msi_wrapper/product_version.h"
#include "platform/paths.h"

namespace installer::msi_wrapper {
namespace {

constexpr DWORD kGuidBufferSize = 39;  // a GUID in braces and its terminator
constexpr std::int32_t kDetectOnly = msidbUpgradeAttributesOnlyDetect;
constexpr std::int32_t kMinInclusive = msidbUpgradeAttributesVersionMinInclusive;
constexpr std::int32_t kMaxInclusive = msidbUpgradeAttributesVersionMaxInclusive;

// An installed product's property, or empty.
std::wstring InstalledPropertyOrEmpty(const std::wstring& product_code, const wchar_t* name) {
  std::wstring value;
  GetInstalledProductProperty(product_code, name, value);
  return value;
}

bool InUpgradeRange(const MsiProductVersion& version, const UpgradeRow& row) {
  const MsiProductVersion minimum(row.VersionMin);
  const MsiProductVersion maximum(row.VersionMax);
  const bool above_minimum = minimum < version || (version == minimum && (row.Attributes & kMinInclusive) != 0);
  const bool below_maximum = version < maximum || (version == maximum && (row.Attributes & kMaxInclusive) != 0);
  return above_minimum && below_maximum;
}

}  // namespace

// ---- MsiProductInfo ----

MsiProductInfo::MsiProductInfo(std::wstring path) : path_(std::move(path)) {
  MSIHANDLE database = 0;
  open_result_ = MsiOpenDatabaseW(path_.c_str(), MSIDBOPEN_READONLY, &database);
  database_.reset(open_result_ == ERROR_SUCCESS ? database : 0);
  summary_ = CreateMsiPackageInfo(path_);
}

std::wstring MsiProductInfo::GetProductName() const { return GetProperty(L"ProductName"); }

std::wstring MsiProductInfo::GetInstallDirectory() const {
  std::wstring below_top;
  ResolveDirectoryPath(database_.get(), L"INSTALLDIR", below_top);  // a partial path is still used
  std::wstring program_files;
  if (platform::GetProgramFilesFolder(program_files) != platform::kErrorSuccess) {
    return {};
  }
  if (!below_top.empty()) {
    return program_files + platform::kPathSeparator + below_top;
  }
  const std::wstring manufacturer = GetProperty(L"Manufacturer");
  const std::wstring product_name = GetProductName();
  if (manufacturer.empty() || product_name.empty()) {
    return {};
  }
  return program_files + platform::kPathSeparator + manufacturer + platform::kPathSeparator + product_name;
}

std::wstring MsiProductInfo::GetMsiFilePath() const { return path_; }

std::wstring MsiProductInfo::GetProductCode() const { return GetProperty(L"ProductCode"); }

std::wstring MsiProductInfo::GetProperty(const std::wstring& name) const {
  std::wstring value;
  if (QueryProperty(database_.get(), name, value) != ERROR_SUCCESS) {
    value.clear();
  }
  return value;
}

UINT MsiProductInfo::GetProductFeatures(std::vector<ProductFeature>& features) const {
  return ReadProductFeatures(database_.get(), features);
}

SetupType MsiProductInfo::GetSetupType() const {
  std::wstring product_code;
  if (QueryProperty(database_.get(), L"ProductCode", product_code) != ERROR_SUCCESS) {
    return SetupType::Undetermined;
  }
  std::wstring installed_package_code;
  const UINT installed =
      GetInstalledProductProperty(product_code, INSTALLPROPERTY_PACKAGECODE, installed_package_code);
  if (installed == ERROR_SUCCESS) {
    const std::wstring package_code = summary_->GetPackageCode();
    if (package_code.empty()) {
      return SetupType::Undetermined;
    }
    return package_code == installed_package_code ? SetupType::SamePackage : SetupType::SameProductOtherPackage;
  }
  if (installed != ERROR_UNKNOWN_PRODUCT) {
    return SetupType::Undetermined;
  }
  std::vector<UpgradeRow> targets;
  if (FindInstalledUpgradeTargets(database_.get(), targets) != ERROR_SUCCESS) {
    return SetupType::Undetermined;
  }
  return targets.empty() ? SetupType::NewInstall : SetupType::UpgradesRelatedProduct;
}

std::vector<std::wstring> MsiProductInfo::GetCabFileNames() const {
  std::vector<std::wstring> names;
  ReadCabinetNames(database_.get(), names);
  return names;
}

// ---- MsiProductInstalledInfo ----

MsiProductInstalledInfo::MsiProductInstalledInfo(std::wstring product_code)
    : product_code_(std::move(product_code)) {}

std::wstring MsiProductInstalledInfo::GetProductName() const {
  return InstalledPropertyOrEmpty(product_code_, INSTALLPROPERTY_INSTALLEDPRODUCTNAME);
}

std::wstring MsiProductInstalledInfo::GetInstallDirectory() const {
  return InstalledPropertyOrEmpty(product_code_, INSTALLPROPERTY_INSTALLLOCATION);
}

std::wstring MsiProductInstalledInfo::GetMsiFilePath() const {
  return InstalledPropertyOrEmpty(product_code_, INSTALLPROPERTY_LOCALPACKAGE);
}

std::wstring MsiProductInstalledInfo::GetProductCode() const { return product_code_; }

std::wstring MsiProductInstalledInfo::GetProperty(const std::wstring& name) const {
  return InstalledPropertyOrEmpty(product_code_, name.c_str());
}

UINT MsiProductInstalledInfo::GetProductFeatures(std::vector<ProductFeature>& features) const {
  features.clear();
  MSIHANDLE raw = 0;
  if (const UINT result = MsiOpenDatabaseW(GetMsiFilePath().c_str(), MSIDBOPEN_READONLY, &raw)) {
    return result;
  }
  const UniqueMsiHandle database(raw);
  if (const UINT result = ReadProductFeatures(database.get(), features)) {
    return result;
  }
  std::map<std::wstring, std::wstring> listed;
  EnumInstalledFeatures(product_code_, listed);
  for (ProductFeature& feature : features) {
    const INSTALLSTATE state = MsiQueryFeatureStateW(product_code_.c_str(), feature.name.c_str());
    feature.enabled = state == INSTALLSTATE_LOCAL || state == INSTALLSTATE_SOURCE;
    if (feature.visible && listed.count(feature.name) == 0) {
      feature.visible = false;
    }
  }
  return ERROR_SUCCESS;
}

SetupType MsiProductInstalledInfo::GetSetupType() const { return SetupType::SamePackage; }

std::vector<std::wstring> MsiProductInstalledInfo::GetCabFileNames() const {
  throw std::logic_error("Not implemented");
}

// ---- factories ----

std::unique_ptr<MsiProductInfoInterface> CreateMsiProductInfo(const std::wstring& path, UINT& error) {
  error = ERROR_SUCCESS;
  auto package = std::make_unique<MsiProductInfo>(path);
  if (package->OpenResult() != ERROR_SUCCESS) {
    error = package->OpenResult();
    return nullptr;
  }
  return package;
}

std::unique_ptr<MsiProductInfoInterface> CreateMsiProductInstalledInfo(const std::wstring& product_code,
                                                                       UINT& error) {
  if (!IsProductInstalled(product_code)) {
    return nullptr;
  }
  error = ERROR_SUCCESS;
  return std::make_unique<MsiProductInstalledInfo>(product_code);
}

// ---- routines on installed products ----

UINT GetInstalledProductProperty(const std::wstring& product_code, const std::wstring& name, std::wstring& value) {
  value.clear();
  DWORD size = 0;
  if (const UINT result = MsiGetProductInfoW(product_code.c_str(), name.c_str(), nullptr, &size)) {
    return result;
  }
  std::wstring buffer(static_cast<std::size_t>(size) + 1, L'\0');
  size += 1;
  if (const UINT result = MsiGetProductInfoW(product_code.c_str(), name.c_str(), buffer.data(), &size)) {
    return result;
  }
  buffer.resize(size);
  value = std::move(buffer);
  return ERROR_SUCCESS;
}

bool IsProductInstalled(const std::wstring& product_code) {
  std::wstring location;
  return GetInstalledProductProperty(product_code, INSTALLPROPERTY_INSTALLLOCATION, location) == ERROR_SUCCESS;
}

UINT FindRelatedProduct(const std::wstring& upgrade_code, std::vector<std::wstring>& products) {
  products.clear();
  wchar_t product[kGuidBufferSize] = L"";
  if (const UINT result = MsiEnumRelatedProductsW(upgrade_code.c_str(), 0, 0, product)) {
    return result;
  }
  products.emplace_back(product);
  return ERROR_SUCCESS;
}

UINT FindInstalledUpgradeTargets(MSIHANDLE database, std::vector<UpgradeRow>& rows) {
  rows.clear();
  std::vector<UpgradeRow> upgrade_rows;
  if (const UINT result = ReadUpgradeRows(database, upgrade_rows)) {
    return result;
  }
  std::vector<std::wstring> related;
  std::wstring installed_version;
  for (UpgradeRow& row : upgrade_rows) {
    if ((row.Attributes & kDetectOnly) != 0 || FindRelatedProduct(row.UpgradeCode, related) != ERROR_SUCCESS ||
        GetInstalledProductProperty(related.front(), INSTALLPROPERTY_VERSIONSTRING, installed_version) !=
            ERROR_SUCCESS) {
      continue;
    }
    if (InUpgradeRange(MsiProductVersion(installed_version), row)) {
      rows.push_back(std::move(row));
    }
  }
  return ERROR_SUCCESS;
}

void EnumInstalledFeatures(const std::wstring& product_code, std::map<std::wstring, std::wstring>& features) {
  features.clear();
  if (!IsProductInstalled(product_code)) {
    return;
  }
  CollectInstalledFeatures(
      [&product_code](DWORD index, wchar_t* feature, wchar_t* parent) {
        return MsiEnumFeaturesW(product_code.c_str(), index, feature, parent);
      },
      features);
}

void CollectInstalledFeatures(const FeatureEnumerator& enumerate, std::map<std::wstring, std::wstring>& features) {
  features.clear();
  // MsiEnumFeaturesW fills at most MAX_FEATURE_CHARS (38) characters of each.
  wchar_t feature[kGuidBufferSize];
  wchar_t parent[kGuidBufferSize];
  unsigned failures_in_a_row = 0;
  for (DWORD index = 0; failures_in_a_row < kMaxConsecutiveFeatureFailures; ++index) {
    feature[0] = L'\0';
    parent[0] = L'\0';
    const UINT result = enumerate(index, feature, parent);
    if (result == ERROR_NO_MORE_ITEMS) {
      return;
    }
    if (result != ERROR_SUCCESS) {
      ++failures_in_a_row;
      continue;
    }
    failures_in_a_row = 0;
    features.emplace(feature, parent);
  }
}

}  // namespace installer::msi_wrapper
