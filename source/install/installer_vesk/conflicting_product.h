// Whether an installed product conflicts with the product package: a member of
// a family that the package's Upgrade table names.
#pragma once

#include <string>

namespace installer {

// The conflicting installed product; defaults when none was found.
struct InstalledProductInfo {
  std::wstring productName;
  std::wstring productCode;
  bool isBeta = false;       // found through an Upgrade row whose Attributes is exactly 768
  bool isQarn = false;       // ... exactly 768 or exactly 1: the product's own family
  bool isTheSame = false;    // the package's setup type is SamePackage
  bool isDowngrade = false;  // isQarn, and the package is older than the installed product
};

// Goes through the package's Upgrade rows whose Attributes is not exactly 2
// (detect only), in the order Windows Installer returns them, and describes
// the first installed product of a row's family (only the first member of each
// family is asked for) that Windows Installer reports as installed. False, with
// `info` untouched, when there is none or the package or its Upgrade table
// cannot be read. Throws GetPackageInstance's failure.
bool FindConflictingProduct(InstalledProductInfo& info);

// Whether installing `package_version` over `installed_version` goes back:
// the package's is the lower MsiProductVersion (three numeric fields, so 1.10
// is above 1.9, and versions that differ only in a fourth field are equal).
// False when either text is empty.
bool IsDowngrade(const std::wstring& package_version, const std::wstring& installed_version);

}  // namespace installer
