// "msi_product_info": whether the package in the current directory can be read,
// and its package code. Each call opens the package afresh.
#pragma once

#include <string>

class MsiProductInfo {
 public:
  // Whether "velkor_installer.msi" of the current directory opens as a package
  // with readable summary information.
  bool isValid();
  // Its package code; empty when it cannot be read.
  std::wstring getPackageCode();
};
