#include "installer_vesk/interop_helpers.h"

#include "installer_vesk/bootstrapper_objects.h"
#include "ovra/exception.h"

namespace installer {
namespace {
constexpr char kSourcePath[] = "installer_vesk/interop_helpers";
}  // namespace

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
