// Test support: fake machine facts.
#pragma once

#include <string>

#include "machine_id/machine_id.h"

namespace machine_id_test {

struct FakeDisk final : platform::DriveSerialSource {
  platform::DriveSerials serials;
  platform::DriveSerials ReadSystemDrive() override { return serials; }
};

struct FakeBoard final : platform::BaseBoardSource {
  bool present = false;
  std::string text;
  int reads = 0;
  bool ReadProductAndSerial(std::string& out) override {
    ++reads;
    if (present) out = text;
    return present;
  }
};

// Answers as told and notes the order it was asked in: P(C), M(ware), B(ox), H(ypervisor).
struct FakeProbes final : platform::VirtualMachineProbes {
  std::string yes;  // the probes that answer yes
  std::string asked;
  bool Answer(char probe) {
    asked += probe;
    return yes.find(probe) != std::string::npos;
  }
  bool VirtualPcGuestCall() override { return Answer('P'); }
  bool VmwareBackdoor() override { return Answer('M'); }
  bool VirtualBoxDevice() override { return Answer('B'); }
  bool HypervisorBit() override { return Answer('H'); }
};

struct FailingUuids final : platform::UuidSource {
  platform::ErrorCode Create(platform::Uuid&) override { return 1717; }  // RPC_S_UNKNOWN_IF
};

}  // namespace machine_id_test
