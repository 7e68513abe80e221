#include "ovra/result.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>

namespace {

using ovra::GetPlatformResultCodeDescription;
using ovra::GetResultCodeDescription;
using ovra::MakeResult;
using ovra::ResultCodeFromWin32Error;

const std::wstring kUnknown = L"Unknown result code";
const std::wstring kUnknownPlatform = L"Unknown platform result code";

// Each code looked up in both tables: first, middle and last entries, gaps,
// and codes of the other facility.
TEST(ResultCode, DescriptionsComeFromTheTableOfTheirFacility) {
  struct Case {
    std::uint32_t code;
    std::wstring general, platform;
    bool is_platform;
  };
  const Case cases[] = {
      {0, L"No error", kUnknownPlatform, false},
      {1, L"False", kUnknownPlatform, false},
      {2, kUnknown, kUnknownPlatform, false},
      {0x80000001, L"Interface not supported", kUnknownPlatform, false},
      {0x8000004B, L"Unspecified error", kUnknownPlatform, false},
      {0x8000004E, kUnknown, kUnknownPlatform, false},
      {0x80000221, L"Operation timeout", kUnknownPlatform, false},
      {0x80070005, kUnknown, kUnknownPlatform, false},  // a wrapped Win32 error has no text
      {0x80010100, kUnknown, L"Unspecified platform error", true},
      {0x80010115, kUnknown, L"Memory mapping failed", true},
      {0x80010116, kUnknown, kUnknownPlatform, true},
      {0x0001002A, kUnknown, kUnknownPlatform, true},  // the sign bit is not part of the facility
      {0xC0010000, kUnknown, kUnknownPlatform, false},
  };
  for (const Case& c : cases) {
    const ovra::result_t code = MakeResult(c.code);
    EXPECT_EQ(GetResultCodeDescription(code), c.general) << std::hex << c.code;
    EXPECT_EQ(GetPlatformResultCodeDescription(code), c.platform) << std::hex << c.code;
    EXPECT_EQ(ovra::IsPlatformResultCode(code), c.is_platform) << std::hex << c.code;
  }
}

TEST(Win32Mapping, TableWrappedZeroOrUnspecified) {
  const std::pair<std::uint32_t, std::uint32_t> cases[] = {
      // Numbers in the table.
      {0, 0},
      {1, 0x80000042},
      {5, 0x80000045},
      {267, 0x80010103},
      {14001, 0x80010108},
      // Other numbers below 0x10000 are wrapped; larger ones give 0.
      {4, 0x80070004},
      {1008, 0x800703F0},
      {0xFFFF, 0x8007FFFF},
      {0x10000, 0},
      {INT32_MAX, 0},
      // HRESULTs of facility 7 (bits 16 to 27 only) are unwrapped first.
      {0x80070005, 0x80000045},
      {0xC0070005, 0x80000045},
      {0x800703F0, 0x800703F0},
      {0x80070000, 0},
      // Any other negative value.
      {0x80170005, 0x80010100},
      {0x80004005, 0x80010100},
      {0xFFFFFFFF, 0x80010100},
      {0x80000000, 0x80010100},
  };
  for (const auto& [error, expected] : cases) {
    EXPECT_EQ(ResultCodeFromWin32Error(MakeResult(error)), MakeResult(expected)) << std::hex << error;
  }
}

// Every code the table produces must be a failure that has a text; a typo in
// either table shows up here as an unknown code, a lost entry in the count.
TEST(Win32Mapping, MappedCodesAllHaveTexts) {
  int mapped = 0;
  for (std::int32_t error = 1; error < 0x10000; ++error) {
    const ovra::result_t code = ResultCodeFromWin32Error(error);
    if (code == MakeResult(0x80070000u | static_cast<std::uint32_t>(error))) continue;
    ++mapped;
    const std::wstring text = ovra::IsPlatformResultCode(code) ? GetPlatformResultCodeDescription(code)
                                                                : GetResultCodeDescription(code);
    EXPECT_NE(text, kUnknown) << error;
    EXPECT_NE(text, kUnknownPlatform) << error;
    EXPECT_TRUE(ovra::IsFailure(code)) << error;
  }
  EXPECT_EQ(mapped, 35);
}

}  // namespace
