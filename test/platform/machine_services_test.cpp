// The machine services of the platform seam, each backend on the system it runs on.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <future>
#include <set>
#include <string>
#include <vector>

#include "platform/drive_serials.h"
#include "platform/md5.h"
#include "platform/security_token.h"
#include "platform/shell_start.h"
#include "platform/uuid.h"
#include "platform/vm_probes.h"
#include "machine_id/machine_id.h"
#include "program_support.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <signal.h>
#endif

namespace {

std::string Hex(const platform::Md5Digest& digest) {
  char text[2 * sizeof(digest) + 1];
  for (std::size_t i = 0; i < sizeof(digest); ++i) std::snprintf(text + 2 * i, 3, "%02x", digest[i]);
  return text;
}

TEST(MachineServices, Md5OfTheReferenceSuite) {
  // RFC 1321, appendix A.5.
  const struct {
    std::string input;
    const char* digest;
  } rows[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {std::string("1234567890") + "1234567890123456789012345678901234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
  };
  for (const auto& row : rows) {
    platform::Md5Digest digest{};
    ASSERT_EQ(platform::ComputeMd5(row.input.data(), row.input.size(), digest), 0u);
    EXPECT_EQ(Hex(digest), row.digest) << row.input;
  }
}

TEST(MachineServices, UuidsAreNewRandomUuids) {
  std::set<std::string> seen;
  for (int i = 0; i < 1000; ++i) {
    platform::Uuid uuid;
    ASSERT_EQ(platform::SystemUuids().Create(uuid), 0u);
    EXPECT_EQ(uuid.data3 >> 12, 4) << "version 4";
    EXPECT_EQ(uuid.data4[0] & 0xC0, 0x80) << "RFC 4122 variant";
    seen.insert(installer::machine_id::FormatUuid(uuid));
  }
  EXPECT_EQ(seen.size(), 1000u);
}

#ifndef _WIN32
bool SameAction(int signal, const struct sigaction& before) {
  struct sigaction now {};
  sigaction(signal, nullptr, &now);
  // The C library adds its own flag (SA_RESTORER) to every disposition it sets.
  return now.sa_sigaction == before.sa_sigaction && (now.sa_flags & SA_SIGINFO) == (before.sa_flags & SA_SIGINFO);
}

void MarkFault(int) {}
#endif

TEST(MachineServices, GuardedProbesAnswerTheSameFromManyThreadsAndLeaveNoHandler) {
#ifndef _WIN32
  // A handler of the host's, as V8's would be: it must be there again afterwards.
  struct sigaction host {}, original_segv {}, before_segv {}, before_ill {};
  host.sa_handler = MarkFault;
  sigemptyset(&host.sa_mask);
  sigaction(SIGSEGV, &host, &original_segv);
  sigaction(SIGSEGV, nullptr, &before_segv);
  sigaction(SIGILL, nullptr, &before_ill);
#endif
  platform::VirtualMachineProbes& probes = platform::SystemVirtualMachineProbes();
  const bool virtual_pc = probes.VirtualPcGuestCall();
  const bool vmware = probes.VmwareBackdoor();
  std::vector<std::future<bool>> answers;
  for (int thread = 0; thread < 4; ++thread) {
    answers.push_back(std::async(std::launch::async, [&] {
      bool same = true;
      for (int i = 0; i < 50; ++i) {
        same = same && probes.VirtualPcGuestCall() == virtual_pc && probes.VmwareBackdoor() == vmware;
      }
      return same;
    }));
  }
  for (auto& answer : answers) EXPECT_TRUE(answer.get());
#ifndef _WIN32
  EXPECT_TRUE(SameAction(SIGSEGV, before_segv));
  EXPECT_TRUE(SameAction(SIGILL, before_ill));
  sigaction(SIGSEGV, &original_segv, nullptr);
#endif
}

#ifndef _WIN32
TEST(MachineServices, HypervisorBitAgreesWithTheKernel) {
  std::ifstream cpuinfo("/proc/cpuinfo");
  std::string line;
  bool flagged = false;
  while (std::getline(cpuinfo, line)) {
    if (line.rfind("flags", 0) == 0) {
      flagged = (line + " ").find(" hypervisor ") != std::string::npos;
      break;
    }
  }
  EXPECT_EQ(platform::SystemVirtualMachineProbes().HypervisorBit(), flagged);
}
#endif

TEST(MachineServices, DriveSerialsAreWholeOrEmpty) {
  const platform::DriveSerials serials = platform::SystemDriveSerials().ReadSystemDrive();
  std::cout << "ata [" << serials.ata << "] descriptor [" << serials.descriptor << "]\n";
  EXPECT_TRUE(serials.ata.empty() || serials.ata.size() == 20) << serials.ata;
  EXPECT_EQ(serials.descriptor.find('\0'), std::string::npos);
}

// A start that succeeds is checked from script (terminal_installer.test.js: startProduct).
TEST(MachineServices, ShellStartOfAMissingProgramReportsFileNotFound) {
  const std::wstring folder = native_test::Wide(std::filesystem::temp_directory_path());
  EXPECT_EQ(platform::ShellStart(L"no-such-program.exe", folder), 2u);
}

#ifdef _WIN32
TEST(MachineServices, PrivilegesAreLookedUpByName) {
  EXPECT_EQ(platform::EnableProcessPrivilege("SeShutdownPrivilege"), 0u);
  EXPECT_EQ(platform::EnableProcessPrivilege("SeNoSuchPrivilege"), 1313u);  // ERROR_NO_SUCH_PRIVILEGE
}

bool ThreadHasToken() {
  HANDLE token = nullptr;
  if (!OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &token)) return false;
  CloseHandle(token);
  return true;
}

TEST(MachineServices, ImpersonationIsSuspendedAndRestored) {
  {
    platform::ImpersonationPause not_impersonating;
    EXPECT_EQ(not_impersonating.Suspend(), 0u);
  }
  EXPECT_FALSE(ThreadHasToken());
  ASSERT_TRUE(ImpersonateSelf(SecurityImpersonation));
  ASSERT_TRUE(ThreadHasToken());
  {
    platform::ImpersonationPause pause;
    EXPECT_EQ(pause.Suspend(), 0u);
    EXPECT_FALSE(ThreadHasToken());
  }
  EXPECT_TRUE(ThreadHasToken());
  RevertToSelf();
}
#endif

}  // namespace
