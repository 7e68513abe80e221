#include "platform/system_restart.h"

#include <cstdlib>
#include <string>

#include "ovra/strings.h"
#include "platform/child_process.h"

namespace platform {
namespace {

class CommandRestart final : public SystemRestart {
 public:
  ErrorCode Restart() override {
    const char* command = std::getenv(kRebootCommandVariable);
    if (command == nullptr || *command == '\0') return kErrorNotSupported;
    ChildProcess shell;
    std::uint32_t exit_code = 1;
    if (shell.Start({L"/bin/sh", L"-c", ovra::WideFromUtf8(command)}) != kErrorSuccess ||
        shell.Wait(exit_code) != kErrorSuccess) {
      return kErrorGenFailure;
    }
    return exit_code == 0 ? kErrorSuccess : kErrorGenFailure;
  }
};

}  // namespace

SystemRestart& SystemRestartService() {
  static CommandRestart service;
  return service;
}

}  // namespace platform
