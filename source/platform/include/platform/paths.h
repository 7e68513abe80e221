// Paths the installer builds: the separator of the running system, the
// machine's Program Files folder, the host executable, and wide paths as
// filesystem paths.
#pragma once

#include <filesystem>
#include <string>
#include <system_error>

#include "platform/error_code.h"

namespace platform {

// The separator the installer puts between path parts: '\' on Windows, '/' on
// POSIX systems.
extern const wchar_t kPathSeparator;

// Whether `c` separates path parts: '\' and '/' on Windows, '/' only on POSIX
// systems (where '\' may be part of a name).
bool IsPathSeparator(wchar_t c);

// The machine's Program Files folder, without a trailing separator: 0 and the
// folder, or an error with `folder` unchanged.
// Windows: SHGetSpecialFolderPathW(CSIDL_PROGRAM_FILES) of the running process.
// POSIX: "Program Files" of the Windows Installer stand-in's drive root
// ($INSTALLER_VESK_HOME/drive/Program Files), where its engine installs
// ProgramFilesFolder.
ErrorCode GetProgramFilesFolder(std::wstring& folder);

// The full path of the running process's executable: 0 and the path, or an
// error with `path` unchanged.
// Windows: GetModuleFileNameW(NULL), into a buffer that starts at MAX_PATH and
// doubles up to five times; a path still cut after that gives 0 and an empty path.
// POSIX: the target of /proc/self/exe.
ErrorCode GetExecutablePath(std::wstring& path);

// A wide path as a filesystem path (POSIX: through UTF-8), and back.
std::filesystem::path PathFromWide(const std::wstring& path);
std::wstring WideFromPath(const std::filesystem::path& path);

// Makes `target` (replaced when present) an executable copy of `source`. POSIX: a
// hard link where the file system allows one, else a copy. Windows: always a
// copy, since no link of a running executable can be deleted.
void CopyExecutable(const std::filesystem::path& source, const std::filesystem::path& target,
                    std::error_code& error);

}  // namespace platform
