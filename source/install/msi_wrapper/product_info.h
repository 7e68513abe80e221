// Facts of one product, asked of its package or of Windows Installer's record
// of the installed product through one interface, and the routines on
// installed products beneath them.
//
// As in the rest of the library, failures come back as Windows error codes,
// empty strings and empty lists; the only exception is GetCabFileNames of an
// installed product, which has no answer.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "msi_wrapper/msi_api.h"
#include "msi_wrapper/msi_handle.h"
#include "msi_wrapper/package_queries.h"

namespace installer::msi_wrapper {

// How a package stands against what is installed.
enum class SetupType : std::int32_t {
  Undetermined = 0,             // a query failed
  NewInstall = 1,               // neither its product nor a product it upgrades is installed
  SameProductOtherPackage = 2,  // its ProductCode is installed from a package with another package code
  UpgradesRelatedProduct = 3,   // a product in the range of one of its Upgrade rows is installed
  SamePackage = 4,              // its ProductCode is installed from this very package
};

class MsiProductInfoInterface {
 public:
  virtual ~MsiProductInfoInterface() = default;
  virtual std::wstring GetProductName() const = 0;
  virtual std::wstring GetInstallDirectory() const = 0;
  virtual std::wstring GetMsiFilePath() const = 0;
  virtual std::wstring GetProductCode() const = 0;
  // Empty when the property is missing or cannot be read.
  virtual std::wstring GetProperty(const std::wstring& name) const = 0;
  // The features in Feature table order; what was read stays in `features`
  // when the code is not 0.
  virtual UINT GetProductFeatures(std::vector<ProductFeature>& features) const = 0;
  virtual SetupType GetSetupType() const = 0;
  virtual std::vector<std::wstring> GetCabFileNames() const = 0;
};

// A package file, opened read-only for the object's lifetime.
class MsiProductInfo final : public MsiProductInfoInterface {
 public:
  // Opens the package; OpenResult() tells whether that worked.
  explicit MsiProductInfo(std::wstring path);
  MsiProductInfo(const MsiProductInfo&) = delete;
  MsiProductInfo& operator=(const MsiProductInfo&) = delete;

  // The code of MsiOpenDatabaseW.
  UINT OpenResult() const { return open_result_; }

  // ProductName.
  std::wstring GetProductName() const override;
  // The Program Files folder, a separator and the path of INSTALLDIR below the
  // folder under TARGETDIR (ending with a separator); when INSTALLDIR yields no
  // path, Program Files\Manufacturer\ProductName. Empty when the Program Files
  // folder is unknown, or when Manufacturer or ProductName is needed and empty.
  std::wstring GetInstallDirectory() const override;
  // The path given at creation.
  std::wstring GetMsiFilePath() const override;
  // ProductCode.
  std::wstring GetProductCode() const override;
  std::wstring GetProperty(const std::wstring& name) const override;
  UINT GetProductFeatures(std::vector<ProductFeature>& features) const override;
  // SamePackage or SameProductOtherPackage when its ProductCode is installed
  // (by package code), else UpgradesRelatedProduct or NewInstall (by
  // FindInstalledUpgradeTargets); Undetermined when a query fails.
  SetupType GetSetupType() const override;
  // The external cabinets' names; what was read before a failure.
  std::vector<std::wstring> GetCabFileNames() const override;

 private:
  std::wstring path_;
  UniqueMsiHandle database_;
  UINT open_result_ = ERROR_SUCCESS;
  std::unique_ptr<MsiPackageInfoInterface> summary_;
};

// An installed product, known by its product code; every answer comes from
// Windows Installer's record of it and from its cached package.
class MsiProductInstalledInfo final : public MsiProductInfoInterface {
 public:
  explicit MsiProductInstalledInfo(std::wstring product_code);

  // InstalledProductName.
  std::wstring GetProductName() const override;
  // InstallLocation.
  std::wstring GetInstallDirectory() const override;
  // LocalPackage: the cached package.
  std::wstring GetMsiFilePath() const override;
  // The code given at creation.
  std::wstring GetProductCode() const override;
  // The installed product's property (MsiGetProductInfoW).
  std::wstring GetProperty(const std::wstring& name) const override;
  // The cached package's features: `enabled` when the feature is installed
  // locally or to run from source; a feature that Windows Installer does not
  // list for the product is not `visible`. The code of opening or reading the
  // cached package.
  UINT GetProductFeatures(std::vector<ProductFeature>& features) const override;
  // Always SamePackage.
  SetupType GetSetupType() const override;
  // Throws std::logic_error("Not implemented"): ask the package instead.
  std::vector<std::wstring> GetCabFileNames() const override;

 private:
  std::wstring product_code_;
};

// The package at `path`: 0 in `error` and the object, or the code of
// MsiOpenDatabaseW in `error` and an empty pointer.
std::unique_ptr<MsiProductInfoInterface> CreateMsiProductInfo(const std::wstring& path, UINT& error);

// The installed product `product_code`: 0 in `error` and the object, or an
// empty pointer with `error` left as the caller set it when the product is not
// installed (IsProductInstalled).
std::unique_ptr<MsiProductInfoInterface> CreateMsiProductInstalledInfo(const std::wstring& product_code,
                                                                       UINT& error);

// A property of an installed product (MsiGetProductInfoW): 0 and the value,
// or the failure (ERROR_UNKNOWN_PRODUCT, ERROR_UNKNOWN_PROPERTY, ...) with
// `value` cleared.
UINT GetInstalledProductProperty(const std::wstring& product_code, const std::wstring& name, std::wstring& value);

// Whether the product's InstallLocation can be read (an empty one counts).
bool IsProductInstalled(const std::wstring& product_code);

// The first installed product of an upgrade family (MsiEnumRelatedProductsW,
// index 0): 0 and that one code in `products`, or the failure and an empty list.
UINT FindRelatedProduct(const std::wstring& upgrade_code, std::vector<std::wstring>& products);

// The package's Upgrade rows, in table order, that an installed product falls
// in: the first installed member of the row's family, its VersionString within
// VersionMin and VersionMax (compared as MsiProductVersion; each bound counts
// only with its inclusive bit, 0x100 and 0x200). Detect-only rows (0x2) are
// skipped. The code of reading the Upgrade table.
UINT FindInstalledUpgradeTargets(MSIHANDLE database, std::vector<UpgradeRow>& rows);

// Failing indexes in a row after which the feature enumeration gives up.
inline constexpr unsigned kMaxConsecutiveFeatureFailures = 64;

// The product's features as Windows Installer lists them (MsiEnumFeaturesW):
// feature name to parent name; empty when the product is not installed.
void EnumInstalledFeatures(const std::wstring& product_code, std::map<std::wstring, std::wstring>& features);

// The enumeration behind EnumInstalledFeatures, over `enumerate` (index, feature
// and parent buffers of 39 characters; MsiEnumFeaturesW's results): 0 adds the
// entry (the first entry of a name stays), ERROR_NO_MORE_ITEMS ends it, another
// result skips the index, and kMaxConsecutiveFeatureFailures of those in a row
// end it as well.
using FeatureEnumerator = std::function<UINT(DWORD index, wchar_t* feature, wchar_t* parent)>;
void CollectInstalledFeatures(const FeatureEnumerator& enumerate, std::map<std::wstring, std::wstring>& features);

}  // namespace installer::msi_wrapper
