// Test support: fake machine facts, and the probe program.
#pragma once

#include <string>
#include <vector>

#include "program_support.h"
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

using native_test::ReadFile;
using native_test::ScratchTest;
using native_test::Wide;

inline std::wstring ProbeProgram() { return native_test::BuiltProgram(MACHINE_ID_PROBE); }

// Runs the probe with `arguments` and gives its exit code.
inline std::uint32_t RunProbe(const std::vector<std::wstring>& arguments, const std::wstring& directory = {}) {
  std::vector<std::wstring> command{ProbeProgram()};
  command.insert(command.end(), arguments.begin(), arguments.end());
  return native_test::RunToEnd(command, directory);
}

}  // namespace machine_id_test
