#include "state_folder.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace linux_msi {

std::filesystem::path InstallerStateFolder() {
  if (const char* home = std::getenv("INSTALLER_VESK_HOME"); home && *home) return home;
  std::string user_home;
  if (const char* home = std::getenv("HOME"); home && *home) {
    user_home = home;
  } else {
    passwd entry{};
    passwd* found = nullptr;
    std::string buffer(16384, '\0');
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found && found->pw_dir) {
      user_home = found->pw_dir;
    }
  }
  if (user_home.empty()) return {};
  return std::filesystem::path(user_home) / ".local" / "share" / "installer_vesk";
}

std::filesystem::path DriveRoot(const std::filesystem::path& state_folder) { return state_folder / "drive"; }

std::filesystem::path ProgramFilesFolder(const std::filesystem::path& drive_root) {
  return drive_root / "Program Files";
}

}  // namespace linux_msi
