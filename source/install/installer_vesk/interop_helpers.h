// The host executable's directory, and the user interface's side of the
// bootstrapper's command-line block.
#pragma once

#include <cstdint>
#include <string>

#include "platform/shared_memory.h"

namespace installer {

// The host executable's directory, ending with one separator ("C:\\Apps\\",
// "/opt/app/"; a drive root keeps its own: "C:\\"). Found on the first call
// and kept for the process, also when several threads make the first call.
// Throws ovra::CheckResultFailedException when the executable's path cannot
// be read (the next call tries again).
std::wstring GetExecutableDirectory();

// The directory part of an executable's full path, without a trailing
// separator except a root's ("C:\\", "/"): what precedes its last separator
// (platform::IsPathSeparator), "X:" for a Windows path "X:name", else empty.
std::wstring ExecutableDirectoryOf(const std::wstring& executable_path);

// Holds the command-line block mapped for reading and writing while a reader works.
// Creates the block when the bootstrapper has not (it then reads as empty text).
class CommandLineMapping {
 public:
  // Throws ovra::ResultCodeException with the Win32 error code.
  CommandLineMapping();
  // The view is unmapped before the handle is closed.
  ~CommandLineMapping() = default;
  CommandLineMapping(const CommandLineMapping&) = delete;
  CommandLineMapping& operator=(const CommandLineMapping&) = delete;

  const wchar_t* name() const { return name_; }
  // The mapped block, kCommandLineBlockSize bytes.
  void* data() const { return view_.data(); }

 private:
  platform::SharedMemory mapping_;
  const wchar_t* name_;
  platform::SharedMemoryView view_;
};

// Reads the bootstrapper's command line from the block: 0 and `text` set, or the
// Win32 error code with `text` unchanged.
std::uint32_t ReadSharedCommandLine(std::wstring& text);

}  // namespace installer
