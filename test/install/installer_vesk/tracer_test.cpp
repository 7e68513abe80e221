#include "installer_vesk/tracer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "log_file.h"

#if defined(__SANITIZE_ADDRESS__)
// The out-of-memory test asks for an impossible block and expects a null result.
extern "C" __attribute__((visibility("default"), used)) const char* __asan_default_options() {
  return "allocator_may_return_null=1";
}
#endif

namespace {

using installer::Tracer;
using installer::TraceRecord;
using tracer_test::ReadRecords;

std::time_t LocalTimeOf(int year, int month, int day, int hour, int minute) {
  std::tm parts{};
  parts.tm_year = year - 1900, parts.tm_mon = month - 1, parts.tm_mday = day;
  parts.tm_hour = hour, parts.tm_min = minute, parts.tm_sec = 30, parts.tm_isdst = -1;
  return std::mktime(&parts);
}

using TracerTest = tracer_test::TempDirTest;

TEST(TracerNames, FormedFromLocalCreationTime) {
  Tracer december(LocalTimeOf(2023, 12, 4, 5, 13));
  EXPECT_EQ(december.GetInstallerLogName(), "qarn_installer_12.04_05.13.INST.log");
  EXPECT_EQ(december.GetMsiLogName(), "qarn_installer_12.04_05.13.MSI.log");
  EXPECT_EQ(Tracer(LocalTimeOf(2024, 1, 31, 23, 59)).GetInstallerLogName(), "qarn_installer_01.31_23.59.INST.log");
}

TEST_F(TracerTest, OpenFailureIsReportedAndRecordsAreLostQuietly) {
  Tracer tracer(std::time(nullptr));
  tracer.SetInstallerLogName("no_such_folder/x.log");
  EXPECT_EQ(tracer.OpenInstallerLog(), static_cast<std::int32_t>(0x8000004Bu));
  EXPECT_FALSE(tracer.IsLogOpen());
  TraceRecord(tracer, 700) << "lost";
  EXPECT_FALSE(std::filesystem::exists("no_such_folder"));

  tracer.SetInstallerLogName("");
  EXPECT_EQ(tracer.OpenInstallerLog(), static_cast<std::int32_t>(0x8000004Bu));
}

// "tracer closed" is written only while the log is open and the level takes 700.
TEST_F(TracerTest, DestructionWritesTracerClosedOnlyWhenOpenAndLevelAllows) {
  const struct { const char* log; std::uint32_t level; bool close; std::vector<std::string> records; } rows[] = {{"at700.log", 700, false, {"x", "tracer closed"}},
              {"at699.log", 699, false, {"x"}},
              {"closed.log", 700, true, {"x"}}};
  for (const auto& row : rows) {
    {
      Tracer tracer(std::time(nullptr));
      tracer.SetInstallerLogName(row.log);
      tracer.SetLevel(row.level);
      ASSERT_EQ(tracer.OpenInstallerLog(), 0);
      TraceRecord(tracer, 1) << "x";
      if (row.close) tracer.CloseInstallerLog();
    }
    EXPECT_EQ(ReadRecords(row.log), row.records) << row.log;
  }
}

TEST_F(TracerTest, LongRecordsAreDroppedBelowLevel1000AndWrittenWholeAbove) {
  Tracer tracer(std::time(nullptr));
  ASSERT_EQ(tracer.OpenInstallerLog(), 0);
  const std::string exactly512(512, 'a');
  const std::string over512(600, 'b');
  TraceRecord(tracer, 700) << exactly512;
  TraceRecord(tracer, 700) << over512;
  TraceRecord(tracer, 700) << std::string(300, 'c') << std::string(300, 'c');
  TraceRecord(tracer, 700) << "short";

  tracer.SetLevel(1000);
  const std::string huge(5000, 'd');
  TraceRecord(tracer, 700) << over512 << huge;
  std::string pieces;
  {
    TraceRecord record(tracer, 700);
    for (int i = 0; i < 40; ++i) {
      const std::string piece = std::to_string(i) + std::string(97, static_cast<char>('A' + i % 26));
      record << piece;
      pieces += piece;
    }
  }
  ASSERT_GT(pieces.size(), 2048u);
  EXPECT_EQ(ReadRecords(tracer.GetInstallerLogName()),
            (std::vector<std::string>{exactly512, "short", over512 + huge, pieces}));
}

TEST_F(TracerTest, GetRecordBufferDeclinesFailsAndSizes) {
  Tracer tracer(std::time(nullptr));
  char* block = static_cast<char*>(std::malloc(16));
  // Declined: the old block goes and the caller sees null.
  EXPECT_EQ(tracer.GetRecordBuffer(701, &block, 64), 0);
  EXPECT_EQ(block, nullptr);

  ASSERT_EQ(tracer.GetRecordBuffer(700, &block, 4), 0);
  ASSERT_NE(block, nullptr);  // grown from nothing, then grown keeping its bytes
  std::memcpy(block, "abcd", 4);
  ASSERT_EQ(tracer.GetRecordBuffer(700, &block, 4096), 0);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(std::string(block, 4), "abcd");

  const std::size_t impossible = std::numeric_limits<std::size_t>::max() - 16;
  EXPECT_EQ(tracer.GetRecordBuffer(700, &block, impossible), static_cast<std::int32_t>(0x80000041u));
  EXPECT_EQ(block, nullptr);
}

TEST_F(TracerTest, WriteRecordTakesTheBlockAndIgnoresNull) {
  Tracer tracer(std::time(nullptr));
  ASSERT_EQ(tracer.OpenInstallerLog(), 0);
  EXPECT_EQ(tracer.WriteRecord(nullptr, 5), 0);
  char* block = nullptr;
  ASSERT_EQ(tracer.GetRecordBuffer(700, &block, 8), 0);
  std::memcpy(block, "raw\0tail", 8);
  EXPECT_EQ(tracer.WriteRecord(block, 8), 0);
  EXPECT_EQ(ReadRecords(tracer.GetInstallerLogName()), std::vector<std::string>{std::string("raw\0tail", 8)});
}

TEST_F(TracerTest, ConcurrentWritersNeverInterleave) {
  Tracer tracer(std::time(nullptr));
  tracer.SetLevel(1000);  // lets the long records grow
  ASSERT_EQ(tracer.OpenInstallerLog(), 0);

  constexpr int kThreads = 8;
  constexpr int kRecords = 250;
  const auto payload_size = [](int n) { return static_cast<std::size_t>(300 + (n % 7) * 150); };
  std::atomic<bool> go{false};
  std::atomic<int> failed_opens{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      while (!go.load()) std::this_thread::yield();
      for (int n = 0; n < kRecords; ++n) {
        TraceRecord(tracer, 700) << 'T' << t << " N" << n << ' ' << std::string(payload_size(n), static_cast<char>('a' + t));
      }
    });
  }
  // Another thread keeps re-opening the open log meanwhile.
  threads.emplace_back([&] {
    while (!go.load()) std::this_thread::yield();
    for (int i = 0; i < 200; ++i) {
      if (tracer.OpenInstallerLog() != 0) ++failed_opens;
    }
  });
  go = true;
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(failed_opens.load(), 0);

  const auto records = ReadRecords(tracer.GetInstallerLogName());
  ASSERT_EQ(records.size(), static_cast<std::size_t>(kThreads * kRecords));
  std::vector<int> next(kThreads, 0);
  for (const auto& record : records) {
    int t = -1, n = -1, consumed = 0;
    ASSERT_EQ(std::sscanf(record.c_str(), "T%d N%d %n", &t, &n, &consumed), 2) << record.substr(0, 40);
    ASSERT_TRUE(t >= 0 && t < kThreads) << record.substr(0, 40);
    EXPECT_EQ(n, next[t]) << "records of one thread out of order or lost";
    next[t] = n + 1;
    EXPECT_EQ(record.substr(consumed), std::string(payload_size(n), static_cast<char>('a' + t)))
        << "damaged record T" << t << " N" << n;
  }
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(next[t], kRecords);
}

}  // namespace
