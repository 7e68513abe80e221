#include "platform/vm_probes.h"

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <mutex>

#include "../x86_probe_instructions.h"
#include "kernel_handle.h"

namespace platform {
namespace {

using probe_detail::GuardedProbe;

#ifdef PLATFORM_X86_PROBES
// The guard's state is process-wide, so one guarded probe runs at a time.
std::mutex guard_mutex;
std::atomic<DWORD> probing_thread{0};
std::atomic<int> active_probe{0};
std::atomic<bool> probe_faulted{false};

// First in the handler chain; skips the probe's instruction when it faults on the
// probing thread and lets every other exception go on.
LONG CALLBACK GuardHandler(EXCEPTION_POINTERS* exception) {
  const DWORD code = exception->ExceptionRecord->ExceptionCode;
  if (code != EXCEPTION_ILLEGAL_INSTRUCTION && code != EXCEPTION_PRIV_INSTRUCTION &&
      code != EXCEPTION_ACCESS_VIOLATION) {
    return EXCEPTION_CONTINUE_SEARCH;
  }
  if (GetCurrentThreadId() != probing_thread.load()) return EXCEPTION_CONTINUE_SEARCH;
  const auto probe = static_cast<GuardedProbe>(active_probe.load());
  const std::size_t length =
      probe_detail::ProbeInstructionAt(probe, exception->ExceptionRecord->ExceptionAddress);
  if (length == 0) return EXCEPTION_CONTINUE_SEARCH;
#if defined(__x86_64__)
  exception->ContextRecord->Rip += length;
#else
  exception->ContextRecord->Eip += length;
#endif
  probe_faulted = true;
  return EXCEPTION_CONTINUE_EXECUTION;
}

class VectoredHandler {
 public:
  VectoredHandler() : handle_(AddVectoredExceptionHandler(1, GuardHandler)) {}
  ~VectoredHandler() {
    if (handle_ != nullptr) RemoveVectoredExceptionHandler(handle_);
  }
  VectoredHandler(const VectoredHandler&) = delete;
  VectoredHandler& operator=(const VectoredHandler&) = delete;
  bool installed() const { return handle_ != nullptr; }

 private:
  void* handle_;
};

// A probe_detail::GuardRunner.
bool RunGuarded(GuardedProbe probe, std::uint32_t (*execute)(), std::uint32_t& ebx) {
  std::lock_guard<std::mutex> lock(guard_mutex);
  const VectoredHandler guard;
  if (!guard.installed()) return false;
  probe_faulted = false;
  active_probe = static_cast<int>(probe);
  probing_thread = GetCurrentThreadId();
  ebx = execute();
  probing_thread = 0;
  active_probe = static_cast<int>(GuardedProbe::kNone);
  return !probe_faulted;
}
#else
bool RunGuarded(GuardedProbe, std::uint32_t (*)(), std::uint32_t&) { return false; }
#endif

class SystemProbes final : public VirtualMachineProbes {
 public:
  bool VirtualPcGuestCall() override { return probe_detail::AskVirtualPc(RunGuarded); }
  bool VmwareBackdoor() override { return probe_detail::AskVmware(RunGuarded); }

  bool VirtualBoxDevice() override {
    const KernelHandle device(CreateFileW(L"\\\\.\\VBoxGuest", GENERIC_READ, FILE_SHARE_READ, nullptr,
                                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return device.get() != nullptr;
  }

  bool HypervisorBit() override { return probe_detail::ReadHypervisorBit(); }
};

}  // namespace

VirtualMachineProbes& SystemVirtualMachineProbes() {
  static SystemProbes probes;
  return probes;
}

}  // namespace platform
