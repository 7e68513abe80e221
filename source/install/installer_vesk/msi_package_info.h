// "msi_package_info": facts of the product package that the bootstrapper put
// beside the host executable, and how it stands against installed products.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "installer_vesk/conflicting_product.h"
#include "msi_wrapper/package_queries.h"
#include "msi_wrapper/product_info.h"

namespace installer {

// The process-wide package object over GetExecutableDirectory() followed by
// "velkor_installer.msi", created on first use after the bootstrapper's package
// is ready (once, also when several threads ask first). Throws
// std::runtime_error("msiProductInfo error: <code>") when the package cannot be
// opened; the next call tries again. Callers keep what they got for as long
// as they use it.
std::shared_ptr<const msi_wrapper::MsiProductInfoInterface> GetPackageInstance();

// Empties the process-wide holder: the object goes when its last user lets it
// go, and the next GetPackageInstance creates a new one.
void ReleasePackageInstance();

}  // namespace installer

// Every method works on GetPackageInstance(), whose creation failure it throws.
class MsiPackageInfo {
 public:
  std::wstring getProductName();
  std::wstring getInstallDirectory();
  // The path the package object was created from.
  std::wstring getMsiFilePath();
  std::wstring getProductCode();
  std::wstring getEdition();
  // Empty when the Property row is missing or cannot be read.
  std::wstring getProperty(std::wstring name);
  // Replaces `features` with the package's features; the code of reading them.
  std::int32_t getProductFeatures(std::vector<installer::msi_wrapper::ProductFeature>& features);
  // A SetupType value, 0 to 4.
  std::int32_t getSetupType();
  std::vector<std::wstring> getCabFileNames();
  // Whether an installed product conflicts with the package (FindConflictingProduct).
  bool getConflictedProductInfo(installer::InstalledProductInfo& info);
  std::wstring getRebrandingCode();
  std::wstring getPremiumLink();
  // The rows of `query` on a private read-only handle of the package, each field
  // as text (integers in decimal, nulls empty); empty when the package or the
  // query fails; the rows read before a failing fetch.
  std::vector<std::vector<std::wstring>> executeQuery(std::wstring query);
};
