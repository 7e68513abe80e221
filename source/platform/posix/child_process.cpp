#include "platform/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <filesystem>
#include <thread>

#include "error_from_errno.h"
#include "ovra/strings.h"

extern char** environ;

namespace platform {
namespace {

class SpawnActions {
 public:
  SpawnActions() { posix_spawn_file_actions_init(&actions_); }
  ~SpawnActions() { posix_spawn_file_actions_destroy(&actions_); }
  SpawnActions(const SpawnActions&) = delete;
  SpawnActions& operator=(const SpawnActions&) = delete;
  posix_spawn_file_actions_t* get() { return &actions_; }

 private:
  posix_spawn_file_actions_t actions_;
};

// Blocks until the child `pid` may be reaped or `timeout` has passed: through a
// pidfd where the kernel has them, otherwise by polling with growing pauses.
void AwaitEnd(pid_t pid, std::chrono::milliseconds timeout) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + timeout;
  const auto remaining = [&] {
    return std::max(std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()),
                    std::chrono::milliseconds(0));
  };
  const int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
  if (pidfd >= 0) {
    pollfd ended{pidfd, POLLIN, 0};
    while (poll(&ended, 1, static_cast<int>(remaining().count())) < 0 && errno == EINTR) {
    }
    close(pidfd);
    return;
  }
  std::chrono::microseconds pause(100);
  for (;;) {
    siginfo_t info{};  // si_pid stays 0 while the child runs
    if (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0 || info.si_pid != 0) return;
    const auto left = remaining();
    if (left.count() == 0) return;
    std::this_thread::sleep_for(std::min<std::chrono::microseconds>(pause, left));
    pause = std::min<std::chrono::microseconds>(pause * 2, std::chrono::milliseconds(10));
  }
}

}  // namespace

struct ChildProcess::State {
  pid_t pid = -1;
  bool waited = false;
  int status = 0;

  // Reaps the child if it has ended (or blocks until it does): false while it runs.
  bool Reap(bool block, ErrorCode& error) {
    if (waited) return true;
    int result = 0;
    while ((result = waitpid(pid, &status, block ? 0 : WNOHANG)) < 0) {
      if (errno != EINTR) {
        error = posix_detail::ErrorFromErrno(errno);
        return false;
      }
    }
    waited = result == pid;
    return waited;
  }
};

ChildProcess::ChildProcess() = default;
ChildProcess::~ChildProcess() = default;
ChildProcess::ChildProcess(ChildProcess&& other) noexcept = default;
ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept = default;

ErrorCode ChildProcess::Start(const std::vector<std::wstring>& command, const std::wstring& working_directory,
                              const std::wstring& output_file) {
  if (command.empty() || state_) return kErrorInvalidParameter;
  std::vector<std::string> arguments;
  for (const std::wstring& argument : command) arguments.push_back(ovra::Utf8FromWide(argument));
  // The child changes directory before it starts the program: a relative path is
  // made absolute so that it means what it means here.
  if (!working_directory.empty() && arguments[0].find('/') != std::string::npos && arguments[0][0] != '/') {
    std::error_code error;
    const auto absolute = std::filesystem::absolute(arguments[0], error);
    if (error) return posix_detail::ErrorFromErrno(error.value());
    arguments[0] = absolute.string();
  }
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);

  SpawnActions actions;
  const std::string output = ovra::Utf8FromWide(output_file);
  if (!output.empty()) {
    posix_spawn_file_actions_addopen(actions.get(), STDOUT_FILENO, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_adddup2(actions.get(), STDOUT_FILENO, STDERR_FILENO);
  }
  const std::string directory = ovra::Utf8FromWide(working_directory);
  if (!directory.empty()) posix_spawn_file_actions_addchdir_np(actions.get(), directory.c_str());

  pid_t pid = -1;
  const int error = posix_spawnp(&pid, argv[0], actions.get(), nullptr, argv.data(), environ);
  if (error != 0) return posix_detail::ErrorFromErrno(error);
  state_ = std::make_unique<State>();
  state_->pid = pid;
  return kErrorSuccess;
}

ErrorCode ChildProcess::Wait(std::uint32_t& exit_code) {
  if (!state_) return kErrorInvalidHandle;
  ErrorCode error = kErrorSuccess;
  if (!state_->Reap(true, error)) return error;
  const int status = state_->status;
  exit_code = WIFEXITED(status) ? static_cast<std::uint32_t>(WEXITSTATUS(status))
                                : 128u + static_cast<std::uint32_t>(WTERMSIG(status));
  return kErrorSuccess;
}

ErrorCode ChildProcess::Wait(std::uint32_t& exit_code, std::chrono::milliseconds timeout) {
  if (!state_) return kErrorInvalidHandle;
  ErrorCode error = kErrorSuccess;
  if (!state_->Reap(false, error)) {
    if (error != kErrorSuccess) return error;
    AwaitEnd(state_->pid, timeout);
    if (!state_->Reap(false, error)) return error != kErrorSuccess ? error : kErrorTimeout;
  }
  return Wait(exit_code);
}

ErrorCode ChildProcess::Terminate() {
  if (!state_) return kErrorInvalidHandle;
  // A reaped process's id may belong to another process by now: it is left alone.
  if (state_->waited || kill(state_->pid, SIGKILL) == 0) return kErrorSuccess;
  return posix_detail::ErrorFromErrno(errno);
}

bool ChildProcess::IsStarted() const { return state_ != nullptr; }

std::vector<std::wstring> ProcessArguments(int argc, char** argv) {
  std::vector<std::wstring> arguments;
  for (int i = 0; i < argc; ++i) arguments.push_back(ovra::WideFromUtf8(argv[i]));
  return arguments;
}

std::wstring ProcessCommandLine(int argc, char** argv) { return JoinCommandLine(ProcessArguments(argc, argv)); }

void IgnoreInterrupts() { std::signal(SIGINT, SIG_IGN); }

}  // namespace platform
