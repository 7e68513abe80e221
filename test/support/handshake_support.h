// Test support: the programs under test, scratch folders, unique object names.
#pragma once

#include <atomic>
#include <random>
#include <string>

#include "program_support.h"

namespace handshake_test {

using native_test::BuiltProgram;
using native_test::ReadFile;
using native_test::RunToEnd;
using native_test::ScratchTest;
using native_test::Wide;

inline std::wstring ProbeProgram() { return BuiltProgram(HANDSHAKE_PROBE); }
inline std::wstring BootstrapperProgram() { return BuiltProgram(HANDSHAKE_BOOTSTRAPPER); }

// An object name no other test or process uses.
inline std::wstring UniqueName(const wchar_t* prefix = L"Local\\") {
  static std::atomic<int> counter{0};
  static const auto seed = std::random_device{}();
  return prefix + std::wstring(L"handshake-test-") + std::to_wstring(seed) + L"-" + std::to_wstring(counter++);
}

}  // namespace handshake_test
