#include "platform/shell_start.h"

#include <windows.h>
#include <shellapi.h>

namespace platform {

std::uint32_t ShellStart(const std::wstring& file, const std::wstring& directory) {
  const auto result = reinterpret_cast<INT_PTR>(ShellExecuteW(
      nullptr, nullptr, file.c_str(), nullptr, directory.empty() ? nullptr : directory.c_str(), SW_HIDE));
  // Any value above 32 means started; it is not a real module handle.
  return result > static_cast<INT_PTR>(kShellStartLastError) ? kShellStartLastError + 1
                                                              : static_cast<std::uint32_t>(result);
}

}  // namespace platform
