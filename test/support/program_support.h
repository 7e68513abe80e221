// Support for native tests that run programs of the build: their paths, scratch
// folders, files.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "ovra/strings.h"
#include "platform/child_process.h"
#include "test_packages.h"

namespace native_test {

inline std::wstring BuiltProgram(const char* path) { return msi_test::SystemPath(path); }

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

// Starts a program and waits for its exit code.
inline std::uint32_t RunToEnd(const std::vector<std::wstring>& command, const std::wstring& directory = {},
                              const std::wstring& output = {}) {
  platform::ChildProcess process;
  EXPECT_EQ(process.Start(command, directory, output), 0u);
  std::uint32_t exit_code = 0xDEAD;
  EXPECT_EQ(process.Wait(exit_code), 0u);
  return exit_code;
}

// A fresh folder per test, removed afterwards.
class ScratchTest : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = msi_test::FreshTemporaryFolder("native_test_"); }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }
  std::filesystem::path dir_;
};

// A ScratchTest whose folder is the current directory while it runs.
class CurrentScratchTest : public ScratchTest {
 protected:
  void SetUp() override {
    ScratchTest::SetUp();
    previous_ = std::filesystem::current_path();
    std::filesystem::current_path(dir_);
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::current_path(previous_, ignored);
    ScratchTest::TearDown();
  }
  std::filesystem::path previous_;
};

}  // namespace native_test
