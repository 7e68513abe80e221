#include "platform/paths.h"

#include <windows.h>
#include <shlobj.h>

#include <vector>

namespace platform {

const wchar_t kPathSeparator = L'\\';

bool IsPathSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

ErrorCode GetProgramFilesFolder(std::wstring& folder) {
  wchar_t buffer[MAX_PATH] = L"";
  if (!SHGetSpecialFolderPathW(nullptr, buffer, CSIDL_PROGRAM_FILES, FALSE)) {
    const DWORD error = GetLastError();
    return error != ERROR_SUCCESS ? error : kErrorPathNotFound;
  }
  folder = buffer;
  return kErrorSuccess;
}

ErrorCode GetExecutablePath(std::wstring& path) {
  constexpr int kAttempts = 5;
  std::vector<wchar_t> buffer(MAX_PATH);
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    const DWORD size = static_cast<DWORD>(buffer.size());
    const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), size);
    if (length == 0) return GetLastError();
    if (length < size) {
      path.assign(buffer.data(), length);
      return kErrorSuccess;
    }
    buffer.resize(static_cast<std::size_t>(size) * 2);  // the name was cut
  }
  path.clear();
  return kErrorSuccess;
}

std::filesystem::path PathFromWide(const std::wstring& path) { return std::filesystem::path(path); }

std::wstring WideFromPath(const std::filesystem::path& path) { return path.wstring(); }

void CopyExecutable(const std::filesystem::path& source, const std::filesystem::path& target,
                    std::error_code& error) {
  std::filesystem::copy_file(source, target, std::filesystem::copy_options::overwrite_existing, error);
}

}  // namespace platform
