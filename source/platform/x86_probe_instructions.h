// The instructions of the virtual-machine probes, shared by both backends; each
// backend guards the faulting ones in its own way.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#define PLATFORM_X86_PROBES 1
#endif

namespace platform::probe_detail {

enum class GuardedProbe : int { kNone = 0, kVirtualPc, kVmware };

// The bytes each guarded probe executes; a guard skips a fault only at these bytes.
inline constexpr std::uint8_t kVirtualPcInstruction[] = {0x0F, 0x3F, 0x07, 0x0B};
inline constexpr std::uint8_t kVmwareInstruction[] = {0xED};  // in eax, dx

inline constexpr std::uint32_t kVmwareMagic = 0x564D5868;  // "VMXh"
inline constexpr std::uint16_t kVmwarePort = 0x5658;       // "VX"

// The length of `probe`'s instruction when it stands at `address`, else 0.
inline std::size_t ProbeInstructionAt(GuardedProbe probe, const void* address) {
  const auto matches = [address](const std::uint8_t* bytes, std::size_t size) {
    return address != nullptr && std::memcmp(address, bytes, size) == 0 ? size : 0;
  };
  switch (probe) {
    case GuardedProbe::kVirtualPc: return matches(kVirtualPcInstruction, sizeof kVirtualPcInstruction);
    case GuardedProbe::kVmware: return matches(kVmwareInstruction, sizeof kVmwareInstruction);
    default: return 0;
  }
}

#ifdef PLATFORM_X86_PROBES
// EBX after Virtual PC's guest call with EAX 1 and EBX 0. Faults outside Virtual PC.
__attribute__((noinline)) inline std::uint32_t ExecuteVirtualPcGuestCall() {
  std::uint32_t eax = 1, ebx = 0;
  asm volatile(".byte 0x0f, 0x3f, 0x07, 0x0b" : "+a"(eax), "+b"(ebx) : : "ecx", "edx", "memory");
  return ebx;
}

// EBX after reading VMware's backdoor port. Faults outside VMware (a port read in user mode).
__attribute__((noinline)) inline std::uint32_t ExecuteVmwareBackdoorRead() {
  std::uint32_t eax = kVmwareMagic, ebx = 0, ecx = 10, edx = kVmwarePort;
  asm volatile("inl %%dx, %%eax" : "+a"(eax), "+b"(ebx), "+c"(ecx), "+d"(edx) : : "memory");
  return ebx;
}
#endif

// A backend's guard: runs `execute` and gives its EBX; false when the guard could not
// be set up or the instruction faulted.
using GuardRunner = bool (*)(GuardedProbe probe, std::uint32_t (*execute)(), std::uint32_t& ebx);

// The guarded probes' answers under the backend's guard.
inline bool AskVirtualPc(GuardRunner run_guarded) {
#ifdef PLATFORM_X86_PROBES
  std::uint32_t ebx = 1;
  return run_guarded(GuardedProbe::kVirtualPc, ExecuteVirtualPcGuestCall, ebx) && ebx == 0;
#else
  return false;
#endif
}

inline bool AskVmware(GuardRunner run_guarded) {
#ifdef PLATFORM_X86_PROBES
  std::uint32_t ebx = 0;
  return run_guarded(GuardedProbe::kVmware, ExecuteVmwareBackdoorRead, ebx) && ebx == kVmwareMagic;
#else
  return false;
#endif
}

// CPUID leaf 1, ECX bit 31; false where CPUID is missing (__get_cpuid checks the ID flag).
inline bool ReadHypervisorBit() {
#ifdef PLATFORM_X86_PROBES
  unsigned int eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0) return false;
  return (ecx & (1u << 31)) != 0;
#else
  return false;
#endif
}

}  // namespace platform::probe_detail
