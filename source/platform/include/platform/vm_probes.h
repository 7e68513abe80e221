// Signs that the process runs in a virtual machine.
//
// The two instruction probes execute an instruction that faults outside their
// hypervisor, under a guard that skips the faulting instruction: a vectored
// exception handler on Windows (GCC has no __try), a SIGILL/SIGSEGV handler on
// POSIX (faults of other threads or code go on to the handlers that were there
// before). Only one guarded probe runs at a time in the process. A probe whose guard
// cannot be set up answers no, and so do the instruction probes off x86.
#pragma once

namespace platform {

class VirtualMachineProbes {
 public:
  virtual ~VirtualMachineProbes() = default;
  // Virtual PC's guest call (0F 3F 07 0B, EAX 1, EBX 0): no fault and EBX still 0.
  virtual bool VirtualPcGuestCall() = 0;
  // VMware's backdoor port 0x5658 read with EAX "VMXh", ECX 10: EBX comes back "VMXh".
  virtual bool VmwareBackdoor() = 0;
  // A device only a VirtualBox guest has. Windows: \\.\VBoxGuest opens. POSIX:
  // /dev/vboxguest exists, or a PCI device has VirtualBox's vendor id 0x80ee.
  virtual bool VirtualBoxDevice() = 0;
  // CPUID leaf 1, ECX bit 31 (where CPUID exists).
  virtual bool HypervisorBit() = 0;
};

// The system's own.
VirtualMachineProbes& SystemVirtualMachineProbes();

}  // namespace platform
