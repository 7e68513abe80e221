// The command-line block as the user interface uses it. These tests use the block's
// real name: no bootstrapper may run meanwhile.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "installer_vesk/bootstrapper_objects.h"
#include "installer_vesk/interop_helpers.h"
#include "ovra/exception.h"
#include "ovra/strings.h"
#include "platform/named_event.h"

namespace {

using installer::CommandLineMapping;
using installer::kCommandLineBlockSize;
using installer::ReadSharedCommandLine;
using installer::WriteCommandLineText;

// A missing block keeps the text; the interface's own block reads empty and goes with it.
TEST(CommandLine, BlockOfTheUserInterfaceAloneReadsEmpty) {
  std::wstring text = L"before";
  EXPECT_EQ(ReadSharedCommandLine(text), 2u);
  EXPECT_EQ(text, L"before");
  {
    CommandLineMapping mapping;
    EXPECT_EQ(ReadSharedCommandLine(text), 0u);
    EXPECT_EQ(text, L"");
  }
  EXPECT_EQ(ReadSharedCommandLine(text), 2u);
}

TEST(CommandLine, BlockHoldsAtMost1023Units) {
  const std::wstring smiley = ovra::WideFromUtf8("\xF0\x9F\x98\x80");  // U+1F600: two UTF-16 units
  const std::wstring full = std::wstring(1021, L'a') + smiley;             // 1023 units
  const struct {
    std::wstring written;
    bool fits;
    std::wstring read;
  } rows[] = {
      {full, true, full},
      {full + L"b", false, full},
      // A pair that would straddle the end is left out whole.
      {std::wstring(1022, L'a') + smiley, false, std::wstring(1022, L'a')},
      {L"", true, L""},
  };
  CommandLineMapping mapping;
  for (const auto& row : rows) {
    EXPECT_EQ(WriteCommandLineText(mapping.data(), kCommandLineBlockSize, row.written), row.fits);
    std::wstring text;
    ASSERT_EQ(ReadSharedCommandLine(text), 0u);
    EXPECT_EQ(text, row.read) << "wrote " << ovra::Utf16FromWide(row.written).size() << " units";
  }
}

TEST(CommandLine, ReadingStopsAtTheEndOfABlockWithoutTerminator) {
  const std::wstring all_units(kCommandLineBlockSize / 2, static_cast<wchar_t>(0x7878));
  CommandLineMapping mapping;
  std::memset(mapping.data(), 'x', kCommandLineBlockSize);  // every unit U+7878
  std::wstring text;
  ASSERT_EQ(ReadSharedCommandLine(text), 0u);
  EXPECT_EQ(text, all_units);
  // Past a mapping's end the page may read as zero; a buffer shows any overrun.
  const std::string longer(kCommandLineBlockSize + 64, 'x');
  EXPECT_EQ(installer::ReadCommandLineText(longer.data(), kCommandLineBlockSize), all_units);
}

TEST(CommandLine, MappingFailureThrowsTheWin32Code) {
  // An event under the block's name: the block cannot be created.
  platform::NamedEvent squatter;
  ASSERT_EQ(squatter.Create(installer::kCommandLineBlockName), 0u);
  try {
    CommandLineMapping mapping;
    FAIL() << "no exception";
  } catch (const ovra::ResultCodeException& error) {
    EXPECT_EQ(error.GetCode(), 6);
  }
}

}  // namespace
