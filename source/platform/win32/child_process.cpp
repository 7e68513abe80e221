#include "platform/child_process.h"

#include <windows.h>
#include <shellapi.h>

#include <algorithm>
#include <memory>
#include <mutex>

#include "kernel_handle.h"

namespace platform {
namespace {

// An inheritable copy of one of our standard handles (null when there is none).
HANDLE InheritableCopy(DWORD which) {
  const HANDLE original = GetStdHandle(which);
  HANDLE copy = nullptr;
  if (original == nullptr || original == INVALID_HANDLE_VALUE ||
      !DuplicateHandle(GetCurrentProcess(), original, GetCurrentProcess(), &copy, 0, TRUE, DUPLICATE_SAME_ACCESS)) {
    return nullptr;
  }
  return copy;
}

}  // namespace

struct ChildProcess::State {
  explicit State(HANDLE process) : handle(process) {}
  KernelHandle handle;
};

ChildProcess::ChildProcess() = default;
ChildProcess::~ChildProcess() = default;
ChildProcess::ChildProcess(ChildProcess&& other) noexcept = default;
ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept = default;

ErrorCode ChildProcess::Start(const std::vector<std::wstring>& command, const std::wstring& working_directory,
                              const std::wstring& output_file) {
  if (command.empty() || state_) return ERROR_INVALID_PARAMETER;
  std::wstring line = JoinCommandLine(command);
  // A child inherits every inheritable handle of ours: one start at a time, so
  // that it gets only its own standard handles, not those of another thread's child.
  static std::mutex starting;
  const std::lock_guard<std::mutex> lock(starting);

  // The child gets its standard handles explicitly: inheritable copies of ours, or the file.
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  KernelHandle input(InheritableCopy(STD_INPUT_HANDLE));
  KernelHandle output, error;
  if (!output_file.empty()) {
    output.reset(CreateFileW(output_file.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                             CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (output.get() == nullptr) return GetLastError();
  } else {
    output.reset(InheritableCopy(STD_OUTPUT_HANDLE));
    error.reset(InheritableCopy(STD_ERROR_HANDLE));
  }
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = input.get();
  startup.hStdOutput = output.get();
  startup.hStdError = output_file.empty() ? error.get() : output.get();

  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                      working_directory.empty() ? nullptr : working_directory.c_str(), &startup, &process)) {
    return GetLastError();
  }
  CloseHandle(process.hThread);
  state_ = std::make_unique<State>(process.hProcess);
  return kErrorSuccess;
}

ErrorCode ChildProcess::Wait(std::uint32_t& exit_code) { return Wait(exit_code, std::chrono::milliseconds(INFINITE)); }

ErrorCode ChildProcess::Wait(std::uint32_t& exit_code, std::chrono::milliseconds timeout) {
  if (!state_) return ERROR_INVALID_HANDLE;
  const DWORD limit = timeout.count() >= INFINITE ? INFINITE : static_cast<DWORD>(std::max<long long>(timeout.count(), 0));
  const DWORD waited = WaitForSingleObject(state_->handle.get(), limit);
  if (waited == WAIT_FAILED) return GetLastError();
  if (waited == WAIT_TIMEOUT) return kErrorTimeout;
  DWORD code = 0;
  if (!GetExitCodeProcess(state_->handle.get(), &code)) return GetLastError();
  exit_code = code;
  return kErrorSuccess;
}

ErrorCode ChildProcess::Terminate() {
  if (!state_) return ERROR_INVALID_HANDLE;
  if (TerminateProcess(state_->handle.get(), 1)) return kErrorSuccess;
  const DWORD error = GetLastError();
  // A process that has ended already refuses with access denied.
  return WaitForSingleObject(state_->handle.get(), 0) == WAIT_OBJECT_0 ? kErrorSuccess : error;
}

bool ChildProcess::IsStarted() const { return state_ != nullptr; }

std::vector<std::wstring> ProcessArguments(int, char**) {
  int count = 0;
  const std::unique_ptr<LPWSTR, decltype(&LocalFree)> arguments(CommandLineToArgvW(GetCommandLineW(), &count),
                                                                 &LocalFree);
  if (arguments == nullptr) return {};
  return std::vector<std::wstring>(arguments.get(), arguments.get() + count);
}

std::wstring ProcessCommandLine(int, char**) { return GetCommandLineW(); }

namespace {
BOOL WINAPI TakeCtrlC(DWORD event) { return event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT; }
}  // namespace

void IgnoreInterrupts() { SetConsoleCtrlHandler(TakeCtrlC, TRUE); }

}  // namespace platform
