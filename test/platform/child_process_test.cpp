// Waiting for a child process with a time limit, and ending it.
#include <gtest/gtest.h>

#include "handshake_support.h"
#include "platform/named_event.h"

namespace {

using handshake_test::ProbeProgram;
using handshake_test::UniqueName;

TEST(ChildProcess, TimedWaitReportsARunningProcessAndTerminateEndsIt) {
  const std::wstring go = UniqueName();
  platform::NamedEvent event;
  ASSERT_EQ(event.Create(go), 0u);
  platform::ChildProcess child;  // lingers 30 s once it has set `go`
  ASSERT_EQ(child.Start({ProbeProgram(), L"abandon", UniqueName(), go, L"30000"}), 0u);
  ASSERT_EQ(event.Wait(), platform::kWaitSignalled);

  std::uint32_t exit_code = 0xDEAD;
  EXPECT_EQ(child.Wait(exit_code, std::chrono::milliseconds(100)), platform::kErrorTimeout);
  EXPECT_EQ(exit_code, 0xDEADu);

  EXPECT_EQ(child.Terminate(), 0u);
  EXPECT_EQ(child.Wait(exit_code, std::chrono::seconds(10)), 0u);
#ifdef _WIN32
  EXPECT_EQ(exit_code, 1u);
#else
  EXPECT_EQ(exit_code, 128u + 9u);  // SIGKILL
#endif
  EXPECT_EQ(child.Terminate(), 0u) << "ending an ended process is no error";
}

TEST(ChildProcess, TimedWaitGivesTheExitCodeOfAnEndedProcess) {
  platform::ChildProcess child;
  ASSERT_EQ(child.Start({ProbeProgram(), L"no-such-mode"}), 0u);
  std::uint32_t exit_code = 0;
  EXPECT_EQ(child.Wait(exit_code, std::chrono::seconds(30)), 0u);
  EXPECT_EQ(exit_code, 64u);  // the probe's usage error
  EXPECT_EQ(child.Wait(exit_code, std::chrono::milliseconds(0)), 0u) << "a reaped process keeps its code";
  EXPECT_EQ(exit_code, 64u);
}

}  // namespace
