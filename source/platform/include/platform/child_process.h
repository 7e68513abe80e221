// Starting a program as a child process and waiting for its end.
//
// Windows: CreateProcessW with the arguments joined by JoinCommandLine; the program
// is searched as CreateProcessW does. POSIX: posix_spawnp (searched on PATH when
// the name has no '/'). A relative program path means the same on both: relative to
// our current directory, whatever the child's working directory.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/error_code.h"

namespace platform {

class ChildProcess {
 public:
  ChildProcess();
  // Does not wait for the process or end it.
  ~ChildProcess();
  ChildProcess(ChildProcess&& other) noexcept;
  ChildProcess& operator=(ChildProcess&& other) noexcept;
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Starts command[0] with the rest as its arguments, in `working_directory` (empty:
  // ours). Its standard output and error go to `output_file` (created or truncated)
  // or, when that is empty, to ours. 0, or the Win32 error.
  ErrorCode Start(const std::vector<std::wstring>& command, const std::wstring& working_directory = {},
                  const std::wstring& output_file = {});
  // Waits for the process to end and gives its exit code (POSIX: 128 + the signal
  // number when a signal ended it). 0, or the Win32 error.
  ErrorCode Wait(std::uint32_t& exit_code);
  // Wait with a limit: kErrorTimeout when the process is still running after `timeout`.
  ErrorCode Wait(std::uint32_t& exit_code, std::chrono::milliseconds timeout);
  // Ends the process at once (SIGKILL; TerminateProcess with exit code 1). It still has to
  // be waited for. 0 also when it had ended already.
  ErrorCode Terminate();
  bool IsStarted() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// The running process's arguments, its program first, from main's. Windows: from
// the wide command line (CommandLineToArgvW); `argv` is not used. POSIX: `argv`
// converted from UTF-8.
std::vector<std::wstring> ProcessArguments(int argc, char** argv);
// The running process's command line as Windows gives it (GetCommandLineW); POSIX:
// the arguments joined by JoinCommandLine.
std::wstring ProcessCommandLine(int argc, char** argv);

// Ctrl+C no longer ends this process; it still reaches its children. POSIX: SIGINT
// is ignored, which children started afterwards inherit. Windows: a console
// handler takes it, which children do not inherit.
void IgnoreInterrupts();

// One Windows command line from separate arguments, quoted so that
// CommandLineToArgvW (and the C runtime) split it back into the same arguments.
inline std::wstring JoinCommandLine(const std::vector<std::wstring>& arguments) {
  std::wstring line;
  for (const std::wstring& argument : arguments) {
    if (!line.empty()) line += L' ';
    if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
      line += argument;
      continue;
    }
    line += L'"';
    std::size_t backslashes = 0;
    for (wchar_t c : argument) {
      if (c == L'\\') {
        ++backslashes;
        continue;
      }
      // Backslashes are literal unless a quote follows them: then each is doubled
      // and the quote escaped.
      line.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
      backslashes = 0;
      line += c;
    }
    line.append(backslashes * 2, L'\\');  // before the closing quote
    line += L'"';
  }
  return line;
}

}  // namespace platform
