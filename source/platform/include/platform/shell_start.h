// Starting a program the way the shell does, without waiting for it.
//
// Windows: ShellExecuteW with the default verb, no parameters, `directory` as the
// working directory and SW_HIDE. POSIX: posix_spawn of `file` (relative to
// `directory` unless absolute) with `directory` as its working directory; the child
// is reaped in the background.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// Results in the shell's convention: above 32 means started, 0 to 32 is the error
// (2 file not found, 3 path not found, 5 access denied, 8 out of memory, 11 not a
// program, 31 no way to start it).
inline constexpr std::uint32_t kShellStartLastError = 32;

std::uint32_t ShellStart(const std::wstring& file, const std::wstring& directory);

}  // namespace platform
