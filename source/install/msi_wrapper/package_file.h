// The product package's file name: the bootstrapper puts the package into the
// user interface's folder under it, and the installer opens it there.
#pragma once

#include <string>

namespace installer::msi_wrapper {

inline const std::wstring DefaultMsiFileName = L"velkor_installer.msi";

}  // namespace installer::msi_wrapper
