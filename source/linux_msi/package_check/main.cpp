// msi_package_check <package>: reads everything the msi.dll stand-in can read on
// one package, so that a damaged file crashes (or hangs) this process instead of
// the one that asked (package_check.h). Exit code 0 when every read returned,
// whatever it answered; 2 for a wrong command line.
#include <cstdio>

#include "package_check/package_check.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: msi_package_check <package>\n", stderr);
    return 2;
  }
  linux_msi::TrustPackageFilesInThisProcess();
  linux_msi::ExercisePackageFile(argv[1]);
  return 0;
}
