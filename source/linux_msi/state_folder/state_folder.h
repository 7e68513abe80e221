// Folders of the Linux Windows Installer: its state folder and the drive root
// that holds its standard folders. A target of its own, so that the platform
// seam names the same Program Files folder as the engine.
#pragma once

#include <filesystem>

namespace linux_msi {

// $INSTALLER_VESK_HOME, else ~/.local/share/installer_vesk; empty when the user
// has no home folder.
std::filesystem::path InstallerStateFolder();

// <state folder>/drive: the root of the standard folders.
std::filesystem::path DriveRoot(const std::filesystem::path& state_folder);

// <drive root>/Program Files: ProgramFilesFolder (and ProgramFiles64Folder).
std::filesystem::path ProgramFilesFolder(const std::filesystem::path& drive_root);

}  // namespace linux_msi
