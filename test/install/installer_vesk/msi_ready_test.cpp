// WaitForMsiReady in a user-interface process (the probe), with and without the real
// bootstrapper; its command line and splash screen: test/script/installer_controller.test.js.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "handshake_support.h"
#include "installer_vesk/bootstrapper_objects.h"
#include "log_file.h"
#include "platform/named_event.h"

namespace {

using handshake_test::BootstrapperProgram;
using handshake_test::ProbeProgram;
using handshake_test::ReadFile;
using handshake_test::RunToEnd;
using handshake_test::Wide;

class MsiReady : public handshake_test::ScratchTest {
 protected:
  std::vector<std::wstring> ProbeCommand(const wchar_t* exit_code = L"0") const {
    return {ProbeProgram(), L"ui", L"--log", Wide(dir_ / "ui.log"), L"--report", Wide(dir_ / "report.txt"),
            L"--exit-code", exit_code};
  }

  // The probe's records with the installer's tag.
  std::vector<std::string> InstallerRecords() const {
    std::vector<std::string> records;
    for (const std::string& record : tracer_test::ReadRecords(dir_ / "ui.log")) {
      if (record.compare(0, 3, "bl\t") == 0) records.push_back(record);
    }
    return records;
  }
};

TEST_F(MsiReady, WithoutBootstrapperTracesNotReadyOnce) {
  ASSERT_EQ(RunToEnd(ProbeCommand(), Wide(dir_)), 0u);
  // Three calls, two of them at once: one record.
  EXPECT_EQ(InstallerRecords(), std::vector<std::string>{"bl\tMsi not ready: 2"});
  EXPECT_EQ(ReadFile(dir_ / "report.txt"), "ready set: 0\npackage present: 0\n");
}

TEST_F(MsiReady, WithBootstrapperWaitsForThePackage) {
  const auto package = dir_ / "package.msi";
  std::ofstream(package) << "package";
  std::vector<std::wstring> command{BootstrapperProgram(), L"--package",     Wide(package), L"--dir",
                                    Wide(dir_ / "ui"),     L"--ready-delay", L"300",        L"--"};
  for (const std::wstring& argument : ProbeCommand(L"3")) command.push_back(argument);

  EXPECT_EQ(RunToEnd(command, {}, Wide(dir_ / "bootstrapper.txt")), 3u) << "the interface's exit code";
  EXPECT_EQ(InstallerRecords(), (std::vector<std::string>{"bl\tWait extract msi", "bl\tMsi ready: 0"}));
  EXPECT_EQ(ReadFile(dir_ / "report.txt"), "ready set: 1\npackage present: 1\n");
  const std::string output = ReadFile(dir_ / "bootstrapper.txt");
  EXPECT_NE(output.find("bootstrapper: user interface exited with 3"), std::string::npos) << output;

  // It removed its objects.
  platform::NamedEvent ready;
  EXPECT_EQ(ready.Open(installer::kMsiReadyEventName, platform::EventAccess::kWait), 2u);
}

}  // namespace
