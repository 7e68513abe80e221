#include "platform/paths.h"

#include <unistd.h>

#include <cerrno>
#include <string>

#include "error_from_errno.h"
#include "ovra/strings.h"
#include "state_folder.h"

namespace platform {

const wchar_t kPathSeparator = L'/';

bool IsPathSeparator(wchar_t c) { return c == L'/'; }

ErrorCode GetProgramFilesFolder(std::wstring& folder) {
  const std::filesystem::path state = linux_msi::InstallerStateFolder();
  if (state.empty()) return kErrorPathNotFound;
  folder = ovra::WideFromUtf8(linux_msi::ProgramFilesFolder(linux_msi::DriveRoot(state)).string());
  return kErrorSuccess;
}

ErrorCode GetExecutablePath(std::wstring& path) {
  std::string target(256, '\0');
  for (;;) {
    const ssize_t length = ::readlink("/proc/self/exe", target.data(), target.size());
    if (length < 0) return posix_detail::ErrorFromErrno(errno);
    if (static_cast<std::size_t>(length) < target.size()) {
      target.resize(static_cast<std::size_t>(length));
      break;
    }
    target.resize(target.size() * 2);  // possibly cut: read again with more room
  }
  path = ovra::WideFromUtf8(target);
  return kErrorSuccess;
}

std::filesystem::path PathFromWide(const std::wstring& path) { return std::filesystem::path(ovra::Utf8FromWide(path)); }

std::wstring WideFromPath(const std::filesystem::path& path) { return ovra::WideFromUtf8(path.string()); }

void CopyExecutable(const std::filesystem::path& source, const std::filesystem::path& target,
                    std::error_code& error) {
  std::filesystem::remove(target, error);
  std::filesystem::create_hard_link(source, target, error);
  if (error) std::filesystem::copy_file(source, target, std::filesystem::copy_options::overwrite_existing, error);
}

}  // namespace platform
