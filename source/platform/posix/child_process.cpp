#include "platform/child_process.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "named_object.h"
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

}  // namespace

struct ChildProcess::State {
  pid_t pid = -1;
  bool waited = false;
  int status = 0;
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
  if (!state_->waited) {
    int status = 0;
    while (waitpid(state_->pid, &status, 0) < 0) {
      if (errno != EINTR) return posix_detail::ErrorFromErrno(errno);
    }
    state_->waited = true;
    state_->status = status;
  }
  const int status = state_->status;
  exit_code = WIFEXITED(status) ? static_cast<std::uint32_t>(WEXITSTATUS(status))
                                : 128u + static_cast<std::uint32_t>(WTERMSIG(status));
  return kErrorSuccess;
}

bool ChildProcess::IsStarted() const { return state_ != nullptr; }

}  // namespace platform
