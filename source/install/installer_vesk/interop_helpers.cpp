#include "installer_vesk/interop_helpers.h"

#include <mutex>

#include "installer_vesk/bootstrapper_objects.h"
#include "ovra/exception.h"
#include "ovra/result.h"
#include "platform/paths.h"

namespace installer {
namespace {

constexpr char kSourcePath[] = "installer_vesk/interop_helpers";

// Fills `cache` with the executable's directory; a path that cannot be cut
// into a directory leaves it as it was.
ovra::result_t QueryExecutableDirectory(std::wstring& cache) {
  std::wstring path;
  if (const platform::ErrorCode error = platform::GetExecutablePath(path)) {
    return ovra::ResultCodeFromWin32Error(static_cast<std::int32_t>(error));
  }
  std::wstring directory = ExecutableDirectoryOf(path);
  if (!directory.empty()) {
    cache = std::move(directory);
  }
  return ovra::kResultOk;
}

}  // namespace

std::wstring ExecutableDirectoryOf(const std::wstring& executable_path) {
  std::size_t end = executable_path.size();
  while (end > 0 && !platform::IsPathSeparator(executable_path[end - 1])) --end;
  std::wstring directory;
  if (end > 0) {
    directory = executable_path.substr(0, end);
  } else if (executable_path.size() >= 2 && executable_path[1] == L':') {
    directory = executable_path.substr(0, 2);
  }
  // "C:\\" and "/" keep their separator; any other directory loses it.
  if (directory.size() >= 2 && platform::IsPathSeparator(directory.back()) &&
      directory[directory.size() - 2] != L':') {
    directory.pop_back();
  }
  return directory;
}

std::wstring GetExecutableDirectory() {
  static std::mutex mutex;
  static std::wstring cache;
  static bool computed = false;
  std::lock_guard<std::mutex> lock(mutex);
  if (!computed) {
    const ovra::result_t result = QueryExecutableDirectory(cache);
    if (ovra::IsFailure(result)) {
      throw ovra::CheckResultFailedException(kSourcePath, __LINE__, result);
    }
    if (cache.empty() || !platform::IsPathSeparator(cache.back())) {
      cache += platform::kPathSeparator;
    }
    computed = true;
  }
  return cache;
}

CommandLineMapping::CommandLineMapping() : name_(kCommandLineBlockName) {
  if (const platform::ErrorCode error = mapping_.CreateOrOpen(name_, kCommandLineBlockSize)) {
    throw ovra::ResultCodeException(kSourcePath, __LINE__, static_cast<ovra::result_t>(error));
  }
  if (const platform::ErrorCode error =
          mapping_.Map(platform::ViewAccess::kReadWrite, kCommandLineBlockSize, view_)) {
    throw ovra::ResultCodeException(kSourcePath, __LINE__, static_cast<ovra::result_t>(error));
  }
}

std::uint32_t ReadSharedCommandLine(std::wstring& text) {
  platform::SharedMemory block;
  if (const platform::ErrorCode error = block.Open(kCommandLineBlockName)) return error;
  platform::SharedMemoryView view;
  if (const platform::ErrorCode error = block.Map(platform::ViewAccess::kRead, kCommandLineBlockSize, view)) {
    return error;
  }
  text = ReadCommandLineText(view.data(), view.size());
  return 0;
}

}  // namespace installer
