#include "platform/vm_probes.h"

#include <signal.h>
#include <sys/syscall.h>
#include <ucontext.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>

#include "../x86_probe_instructions.h"

namespace platform {
namespace {

using probe_detail::GuardedProbe;

#ifdef PLATFORM_X86_PROBES
// The guard's state is process-wide, so one guarded probe runs at a time.
std::mutex guard_mutex;
std::atomic<pid_t> probing_thread{0};
std::atomic<int> active_probe{0};
volatile sig_atomic_t probe_faulted = 0;
struct sigaction previous_ill {};
struct sigaction previous_segv {};

pid_t CurrentThreadId() { return static_cast<pid_t>(syscall(SYS_gettid)); }

greg_t& InstructionPointer(void* context) {
#if defined(__x86_64__)
  return static_cast<ucontext_t*>(context)->uc_mcontext.gregs[REG_RIP];
#else
  return static_cast<ucontext_t*>(context)->uc_mcontext.gregs[REG_EIP];
#endif
}

// A signal that is not the probe's goes where it would have gone without the guard.
void ForwardSignal(int signal, siginfo_t* info, void* context) {
  const struct sigaction& previous = signal == SIGILL ? previous_ill : previous_segv;
  if ((previous.sa_flags & SA_SIGINFO) != 0 && previous.sa_sigaction != nullptr) {
    previous.sa_sigaction(signal, info, context);
  } else if (previous.sa_handler != SIG_DFL && previous.sa_handler != SIG_IGN) {
    previous.sa_handler(signal);
  } else {
    // The default action: a fault happens again on return, a sent signal is sent again.
    ::signal(signal, SIG_DFL);
    if (info->si_code <= 0) raise(signal);
  }
}

void GuardHandler(int signal, siginfo_t* info, void* context) {
  if (CurrentThreadId() == probing_thread.load()) {
    greg_t& ip = InstructionPointer(context);
    const auto probe = static_cast<GuardedProbe>(active_probe.load());
    if (const std::size_t length = probe_detail::ProbeInstructionAt(probe, reinterpret_cast<const void*>(ip))) {
      ip += static_cast<greg_t>(length);
      probe_faulted = 1;
      return;
    }
  }
  ForwardSignal(signal, info, context);
}

// A probe_detail::GuardRunner.
bool RunGuarded(GuardedProbe probe, std::uint32_t (*execute)(), std::uint32_t& ebx) {
  std::lock_guard<std::mutex> lock(guard_mutex);
  // The previous handlers are saved before ours goes in, so a forwarded signal never
  // finds them half written.
  if (sigaction(SIGILL, nullptr, &previous_ill) != 0 || sigaction(SIGSEGV, nullptr, &previous_segv) != 0) {
    return false;
  }
  struct sigaction guard {};
  guard.sa_sigaction = GuardHandler;
  guard.sa_flags = SA_SIGINFO | (previous_segv.sa_flags & SA_ONSTACK);
  sigemptyset(&guard.sa_mask);
  if (sigaction(SIGILL, &guard, nullptr) != 0) return false;
  if (sigaction(SIGSEGV, &guard, nullptr) != 0) {
    sigaction(SIGILL, &previous_ill, nullptr);
    return false;
  }
  probe_faulted = 0;
  active_probe = static_cast<int>(probe);
  probing_thread = CurrentThreadId();
  ebx = execute();
  probing_thread = 0;
  active_probe = static_cast<int>(GuardedProbe::kNone);
  const bool faulted = probe_faulted != 0;
  sigaction(SIGSEGV, &previous_segv, nullptr);
  sigaction(SIGILL, &previous_ill, nullptr);
  return !faulted;
}
#else
bool RunGuarded(GuardedProbe, std::uint32_t (*)(), std::uint32_t&) { return false; }
#endif

bool HasVirtualBoxPciDevice() {
  std::error_code error;
  for (const auto& device : std::filesystem::directory_iterator("/sys/bus/pci/devices", error)) {
    std::ifstream vendor(device.path() / "vendor");
    std::string id;
    if (vendor >> id && id == "0x80ee") return true;
  }
  return false;
}

class SystemProbes final : public VirtualMachineProbes {
 public:
  bool VirtualPcGuestCall() override { return probe_detail::AskVirtualPc(RunGuarded); }
  bool VmwareBackdoor() override { return probe_detail::AskVmware(RunGuarded); }

  bool VirtualBoxDevice() override {
    std::error_code error;
    return std::filesystem::exists("/dev/vboxguest", error) || HasVirtualBoxPciDevice();
  }

  bool HypervisorBit() override { return probe_detail::ReadHypervisorBit(); }
};

}  // namespace

VirtualMachineProbes& SystemVirtualMachineProbes() {
  static SystemProbes probes;
  return probes;
}

}  // namespace platform
