// Folders of the Windows Installer stand-in (posix/msi): its state folder and the
// drive root that holds its standard folders. Shared by its engine and by the
// platform seam, so that both name the same Program Files folder.
#pragma once

#include <filesystem>

namespace platform::posix_detail {

// $INSTALLER_VESK_HOME, else ~/.local/share/installer_vesk; empty when the user
// has no home folder.
std::filesystem::path InstallerStateFolder();

// <state folder>/drive: the root of the standard folders.
std::filesystem::path DriveRoot(const std::filesystem::path& state_folder);

// <drive root>/Program Files: ProgramFilesFolder (and ProgramFiles64Folder).
std::filesystem::path ProgramFilesFolder(const std::filesystem::path& drive_root);

}  // namespace platform::posix_detail
