// Test support: a temporary working folder per test, and reading the installer log.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace tracer_test {

#ifdef _WIN32
constexpr std::string_view kLineEnd = "\r\n";
#else
constexpr std::string_view kLineEnd = "\n";
#endif

// Length of "HH:MM:SS\t".
constexpr std::size_t kStampLength = 9;

inline std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::in | std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline bool HasTimeStamp(const std::string& line) {
  if (line.size() < kStampLength) {
    return false;
  }
  for (std::size_t i : {0, 1, 3, 4, 6, 7}) {
    if (line[i] < '0' || line[i] > '9') {
      return false;
    }
  }
  return line[2] == ':' && line[5] == ':' && line[8] == '\t';
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

// Runs each test in a fresh temporary folder as the current directory.
class TempDirTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::random_device random;
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    dir_ = std::filesystem::temp_directory_path() /
           (std::string("tracer_") + info->name() + "_" + std::to_string(random()) + "_" + std::to_string(stamp));
    std::filesystem::create_directories(dir_);
    previous_ = std::filesystem::current_path();
    std::filesystem::current_path(dir_);
  }

  void TearDown() override {
    std::error_code ignored;
    std::filesystem::current_path(previous_, ignored);
    std::filesystem::remove_all(dir_, ignored);
  }

  std::filesystem::path dir_;
  std::filesystem::path previous_;
};

}  // namespace tracer_test
