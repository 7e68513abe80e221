// Test support: fake machine facts, and the probe program.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "machine_id/machine_id.h"
#include "ovra/strings.h"
#include "platform/child_process.h"

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

// The probe program of the build folder; under Wine the Linux root is drive Z:.
inline std::wstring ProbeProgram() {
  std::wstring program = ovra::WideFromUtf8(MACHINE_ID_PROBE);
#ifdef _WIN32
  for (wchar_t& c : program) {
    if (c == L'/') c = L'\\';
  }
  program = L"Z:" + program;
#endif
  return program;
}

inline std::wstring Wide(const std::filesystem::path& path) {
#ifdef _WIN32
  return path.wstring();
#else
  return ovra::WideFromUtf8(path.string());
#endif
}

inline std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Runs the probe with `arguments` and gives its exit code.
inline std::uint32_t RunProbe(const std::vector<std::wstring>& arguments, const std::wstring& directory = {}) {
  std::vector<std::wstring> command{ProbeProgram()};
  command.insert(command.end(), arguments.begin(), arguments.end());
  platform::ChildProcess process;
  EXPECT_EQ(process.Start(command, directory), 0u);
  std::uint32_t exit_code = 0xDEAD;
  EXPECT_EQ(process.Wait(exit_code), 0u);
  return exit_code;
}

// A fresh folder per test, removed afterwards.
class ScratchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("machine_id_" + std::to_string(std::random_device{}()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }
  std::filesystem::path dir_;
};

}  // namespace machine_id_test
