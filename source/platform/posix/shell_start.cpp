#include "platform/shell_start.h"

#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "ovra/strings.h"

extern char** environ;

namespace platform {
namespace {

std::uint32_t ShellErrorFromErrno(int error) {
  switch (error) {
    case ENOENT: return 2;   // SE_ERR_FNF
    case ENOTDIR: return 3;  // SE_ERR_PNF
    case EACCES:
    case EPERM: return 5;    // SE_ERR_ACCESSDENIED
    case ENOMEM: return 8;   // SE_ERR_OOM
    case ENOEXEC: return 11; // ERROR_BAD_FORMAT
    default: return 31;      // SE_ERR_NOASSOC
  }
}

}  // namespace

std::uint32_t ShellStart(const std::wstring& file, const std::wstring& directory) {
  if (file.empty()) return 2;
  const std::string folder = ovra::Utf8FromWide(directory);
  std::string program = ovra::Utf8FromWide(file);
  // The name is looked up in the working directory, as the shell does.
  if (program[0] != '/' && !folder.empty()) program = folder + "/" + program;

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (!folder.empty()) posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
  std::vector<char*> argv{program.data(), nullptr};
  pid_t pid = -1;
  const int error = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (error != 0) return ShellErrorFromErrno(error);
  // Nobody waits for the program; this thread reaps it so it does not linger as a zombie.
  try {
    std::thread([pid] {
      int status = 0;
      while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
      }
    }).detach();
  } catch (const std::system_error&) {
    // Started all the same; without a thread it stays a zombie until we end.
  }
  return kShellStartLastError + 1;
}

}  // namespace platform
