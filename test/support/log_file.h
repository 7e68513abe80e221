// Test support: a temporary working folder per test, and reading the installer log.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <filesystem>
#include <regex>
#include <string>
#include <string_view>
#include <vector>

#include "program_support.h"

namespace tracer_test {

#ifdef _WIN32
constexpr std::string_view kLineEnd = "\r\n";
#else
constexpr std::string_view kLineEnd = "\n";
#endif

// Length of "HH:MM:SS\t".
constexpr std::size_t kStampLength = 9;

using native_test::ReadFile;

inline bool HasTimeStamp(const std::string& line) {
  static const std::regex stamp("[0-9]{2}:[0-9]{2}:[0-9]{2}\t");
  return std::regex_match(line.substr(0, kStampLength), stamp);
}
// The records of a log: every line must end with the platform's line end, hold no
// other CR or LF, and start with a time stamp, which is cut off.
inline std::vector<std::string> ReadRecords(const std::filesystem::path& path) {
  const std::string text = ReadFile(path);
  std::vector<std::string> records;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find(kLineEnd, start);
    if (end == std::string::npos) {
      ADD_FAILURE() << "unterminated last line in " << path;
      break;
    }
    const std::string line = text.substr(start, end - start);
    EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos) << "stray line end in " << path;
    EXPECT_TRUE(HasTimeStamp(line)) << "no time stamp: " << line.substr(0, 40);
    records.push_back(line.size() >= kStampLength ? line.substr(kStampLength) : line);
    start = end + kLineEnd.size();
  }
  return records;
}

class TempDirTest : public native_test::CurrentScratchTest {};

}  // namespace tracer_test
