// Facts read from a product package: its package code, properties, directory
// paths, features with their conditions, Upgrade rows, the execute sequence and
// the external cabinet names.
//
// The routines take a raw database handle opened by the caller, return a
// Windows error code (0 = success) and never throw on installer failures;
// their out parameters are cleared first and keep what was read before a
// failure. Rows come in the order the installer returns them.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "msi_wrapper/msi_api.h"

namespace installer::msi_wrapper {

// One feature of the package.
struct ProductFeature {
  // A Condition table row's expression and the install level it sets.
  struct ConditionalInstallLevel {
    std::wstring condition;
    std::int32_t installLevel = 0;
  };

  std::wstring name;                           // Feature.Feature
  std::wstring parentName;                     // Feature.Feature_Parent
  std::wstring displayName;                    // Feature.Title
  std::wstring description;                    // Feature.Description
  ConditionalInstallLevel activeInstallLevel;  // the feature's last Condition row
  std::int32_t defaultInstallLevel = 0;        // Feature.Level
  std::int32_t cost = 0;                       // not filled here
  bool enabled = true;                         // set for installed products
  bool visible = true;                         // Feature.Display is not 0
};

// One Upgrade row; empty version bounds read as the widest range.
struct UpgradeRow {
  std::wstring UpgradeCode;
  std::wstring VersionMin = L"0.0.0";
  std::wstring VersionMax = L"99999.99999.99999";
  std::int32_t Attributes = 0;
};

// One Condition row.
struct ConditionRow {
  std::wstring feature;    // Condition.Feature_
  std::wstring condition;  // Condition.Condition
  std::int32_t level = 0;  // Condition.Level
};

// One InstallExecuteSequence row, keyed by its Sequence number.
struct SequenceEntry {
  std::wstring action;
  std::wstring condition;
};

// The package's summary information.
class MsiPackageInfoInterface {
 public:
  virtual ~MsiPackageInfoInterface() = default;
  // Whether both the package and its summary information opened.
  virtual bool IsValid() const = 0;
  // Summary property 9, the package code; empty on any failure.
  virtual std::wstring GetPackageCode() const = 0;
};

// Never empty: ask IsValid whether the package could be read.
std::unique_ptr<MsiPackageInfoInterface> CreateMsiPackageInfo(const std::wstring& path);

// The value of Property `name`: 0 with the value (possibly empty), or the
// failure; a property that is not defined gives ERROR_NO_MORE_ITEMS.
UINT QueryProperty(MSIHANDLE database, const std::wstring& name, std::wstring& value);

// Prepends to `path` the directory's path below the folder that sits directly
// under TARGETDIR, each level's long name followed by the system's separator
// (platform::kPathSeparator: a directory two levels below that folder yields
// "M\P\" on Windows, "M/P/" elsewhere). A missing row ends the
// walk with ERROR_NO_MORE_ITEMS and a loop in the parent links with
// ERROR_INVALID_DATA; `path` then holds what was prepended so far.
UINT ResolveDirectoryPath(MSIHANDLE database, const std::wstring& directory, std::wstring& path);

// All features, each with its conditional install level. When the Condition
// rows cannot be read (a package without a Condition table), the features are
// returned without conditions together with that failure.
UINT ReadProductFeatures(MSIHANDLE database, std::vector<ProductFeature>& features);

UINT ReadConditionRows(MSIHANDLE database, std::vector<ConditionRow>& rows);
UINT ReadUpgradeRows(MSIHANDLE database, std::vector<UpgradeRow>& rows);

// The InstallExecuteSequence table; of rows sharing a Sequence number the first
// returned stays. An empty Sequence counts as 0.
UINT ReadExecuteSequence(MSIHANDLE database, std::map<std::int32_t, SequenceEntry>& sequence);

// Media.Cabinet names of external cabinet files: empty names and "#" names
// (cabinets stored inside the package) are left out.
UINT ReadCabinetNames(MSIHANDLE database, std::vector<std::wstring>& names);

}  // namespace installer::msi_wrapper
