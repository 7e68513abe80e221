#include "ovra/result.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace {

using ovra::GetPlatformResultCodeDescription;
using ovra::GetResultCodeDescription;
using ovra::MakeResult;
using ovra::ResultCodeFromWin32Error;

const std::wstring kUnknown = L"Unknown result code";
const std::wstring kUnknownPlatform = L"Unknown platform result code";

// Win32 errors as they arrive from GetLastError() or as HRESULTs.
std::int32_t Error(std::uint32_t bits) { return static_cast<std::int32_t>(bits); }

TEST(ResultCode, SuccessIsNonNegative) {
  EXPECT_TRUE(ovra::IsSuccess(ovra::kResultOk));
  EXPECT_TRUE(ovra::IsSuccess(ovra::kResultFalse));
  EXPECT_TRUE(ovra::IsSuccess(INT32_MAX));
  EXPECT_TRUE(ovra::IsFailure(INT32_MIN));
  EXPECT_TRUE(ovra::IsFailure(-1));
  EXPECT_FALSE(ovra::IsFailure(0));
}

TEST(ResultCode, GeneralDescriptions) {
  EXPECT_EQ(GetResultCodeDescription(0), std::wstring(L"No error"));
  EXPECT_EQ(GetResultCodeDescription(1), std::wstring(L"False"));
  EXPECT_EQ(GetResultCodeDescription(MakeResult(0x80000001)), std::wstring(L"Interface not supported"));
  EXPECT_EQ(GetResultCodeDescription(MakeResult(0x8000004B)), std::wstring(L"Unspecified error"));
  EXPECT_EQ(GetResultCodeDescription(MakeResult(0x80000076)), std::wstring(L"Meta information not found"));
  EXPECT_EQ(GetResultCodeDescription(MakeResult(0x80000180)), std::wstring(L"Property not found"));
  EXPECT_EQ(GetResultCodeDescription(MakeResult(0x80000221)), std::wstring(L"Operation timeout"));
}

TEST(ResultCode, GapsAndOtherFacilitiesHaveNoGeneralText) {
  const std::uint32_t no_text[] = {
      2,          0x80000000, 0x80000002, 0x8000003F, 0x80000047, 0x80000049, 0x8000004E,
      0x80000052, 0x80000056, 0x8000005F, 0x80000061, 0x8000006D, 0x80000070, 0x80000073,
      0x80000075, 0x80000104, 0x80000220, 0x80070005, 0x80010102,  // platform: separate table
  };
  for (std::uint32_t code : no_text) {
    EXPECT_EQ(GetResultCodeDescription(MakeResult(code)), kUnknown) << std::hex << code;
  }
}

TEST(ResultCode, PlatformDescriptions) {
  EXPECT_EQ(GetPlatformResultCodeDescription(MakeResult(0x80010100)), std::wstring(L"Unspecified platform error"));
  EXPECT_EQ(GetPlatformResultCodeDescription(MakeResult(0x80010109)), std::wstring(L"Invalid path name"));
  EXPECT_EQ(GetPlatformResultCodeDescription(MakeResult(0x80010110)),
            std::wstring(L"Cannot open an anonymous level security token"));
  EXPECT_EQ(GetPlatformResultCodeDescription(MakeResult(0x80010115)), std::wstring(L"Memory mapping failed"));
  for (std::uint32_t code = 0x8001010A; code <= 0x8001010F; ++code) {
    EXPECT_EQ(GetPlatformResultCodeDescription(MakeResult(code)), kUnknownPlatform) << std::hex << code;
  }
  for (std::uint32_t code : {0x800100FFu, 0x80010116u, 0x0001002Au, 0x00010100u, 0x80000001u}) {
    EXPECT_EQ(GetPlatformResultCodeDescription(MakeResult(code)), kUnknownPlatform) << std::hex << code;
  }
}

TEST(ResultCode, PlatformFacilityIgnoresTheSignBit) {
  EXPECT_TRUE(ovra::IsPlatformResultCode(MakeResult(0x80010102)));
  EXPECT_TRUE(ovra::IsPlatformResultCode(MakeResult(0x0001002A)));
  EXPECT_FALSE(ovra::IsPlatformResultCode(MakeResult(0x80000001)));
  EXPECT_FALSE(ovra::IsPlatformResultCode(MakeResult(0x80070005)));
  EXPECT_FALSE(ovra::IsPlatformResultCode(MakeResult(0x80110102)));
  EXPECT_FALSE(ovra::IsPlatformResultCode(MakeResult(0xC0010000)));
}

TEST(Win32Mapping, TableEntries) {
  EXPECT_EQ(ResultCodeFromWin32Error(0), 0);
  EXPECT_EQ(ResultCodeFromWin32Error(1), MakeResult(0x80000042));
  EXPECT_EQ(ResultCodeFromWin32Error(50), MakeResult(0x80000042));
  EXPECT_EQ(ResultCodeFromWin32Error(5), MakeResult(0x80000045));
  EXPECT_EQ(ResultCodeFromWin32Error(267), MakeResult(0x80010103));
  EXPECT_EQ(ResultCodeFromWin32Error(1460), MakeResult(0x80000221));
  EXPECT_EQ(ResultCodeFromWin32Error(14001), MakeResult(0x80010108));
}

// Every code the table produces must be one that has a text; a typo in either
// table shows up here as an unknown code.
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

TEST(Win32Mapping, OtherErrorsBecomeWrappedOrZero) {
  EXPECT_EQ(ResultCodeFromWin32Error(1008), MakeResult(0x800703F0));
  EXPECT_EQ(ResultCodeFromWin32Error(4), MakeResult(0x80070004));
  EXPECT_EQ(ResultCodeFromWin32Error(0xFFFF), MakeResult(0x8007FFFF));
  EXPECT_EQ(ResultCodeFromWin32Error(0x10000), 0);
  EXPECT_EQ(ResultCodeFromWin32Error(0x00020000), 0);
  EXPECT_EQ(ResultCodeFromWin32Error(INT32_MAX), 0);
}

TEST(Win32Mapping, HresultsAreUnwrappedOrUnspecified) {
  EXPECT_EQ(ResultCodeFromWin32Error(Error(0x80070005)), MakeResult(0x80000045));
  EXPECT_EQ(ResultCodeFromWin32Error(Error(0x80070002)), MakeResult(0x80010102));
  EXPECT_EQ(ResultCodeFromWin32Error(Error(0x800703F0)), MakeResult(0x800703F0));
  EXPECT_EQ(ResultCodeFromWin32Error(Error(0x80070000)), 0);
  // Only bits 16 to 27 are compared with 7.
  EXPECT_EQ(ResultCodeFromWin32Error(Error(0xC0070005)), MakeResult(0x80000045));
  EXPECT_EQ(ResultCodeFromWin32Error(Error(0x80170005)), MakeResult(0x80010100));

  EXPECT_EQ(ResultCodeFromWin32Error(Error(0x80004005)), MakeResult(0x80010100));
  EXPECT_EQ(ResultCodeFromWin32Error(Error(0x80000001)), MakeResult(0x80010100));
  EXPECT_EQ(ResultCodeFromWin32Error(-1), MakeResult(0x80010100));
  EXPECT_EQ(ResultCodeFromWin32Error(INT32_MIN), MakeResult(0x80010100));
}

}  // namespace
