#include "installer_vesk/msi_product_info.h"

#include "installer_vesk/msi_ready.h"
#include "msi_wrapper/package_file.h"
#include "msi_wrapper/package_queries.h"

namespace {

namespace msi = installer::msi_wrapper;

// The bare name: Windows Installer resolves it against the current directory.
std::unique_ptr<msi::MsiPackageInfoInterface> OpenCurrentPackage() {
  installer::WaitForMsiReady();
  return msi::CreateMsiPackageInfo(msi::DefaultMsiFileName);
}

}  // namespace

bool MsiProductInfo::isValid() { return OpenCurrentPackage()->IsValid(); }

std::wstring MsiProductInfo::getPackageCode() { return OpenCurrentPackage()->GetPackageCode(); }
