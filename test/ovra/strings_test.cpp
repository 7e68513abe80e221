#include "ovra/strings.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace {

TEST(Strings, Utf16RoundTripKeepsPairsAndLoneSurrogates) {
  const std::u16string samples[] = {
      u"",
      u"plain ascii",
      u"caf\u00e9 \u4e2d\u6587",
      u"\U0001F600 outside the BMP",
      std::u16string{u'a', char16_t(0xD800), u'b'},    // lone high surrogate
      std::u16string{char16_t(0xDC00), u'x'},          // lone low surrogate
      std::u16string{char16_t(0xDBFF), char16_t(0xDBFF), char16_t(0xDFFF)},
  };
  for (const auto& sample : samples) {
    EXPECT_EQ(ovra::Utf16FromWide(ovra::WideFromUtf16(sample)), sample);
  }
}

TEST(Strings, Utf8FromWide) {
  // Where wchar_t is 32-bit, the pair is one code point by then.
  EXPECT_EQ(ovra::Utf8FromWide(ovra::WideFromUtf16(u"a\u00e9\u20ac\U0001F600")),
            "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
  // A lone surrogate is written as the three-byte form of its own value.
  EXPECT_EQ(ovra::Utf8FromWide(ovra::WideFromUtf16(std::u16string{char16_t(0xD83D), u'x'})),
            "\xED\xA0\xBDx");
}

TEST(Strings, WideFromUtf8) {
  EXPECT_EQ(ovra::Utf16FromWide(ovra::WideFromUtf8("a\xC3\xA9\xF0\x9F\x98\x80")), u"a\u00e9\U0001F600");
  // Malformed input: stray continuation, truncated sequence, overlong form.
  EXPECT_EQ(ovra::Utf16FromWide(ovra::WideFromUtf8("\x80z")), u"\uFFFDz");
  EXPECT_EQ(ovra::Utf16FromWide(ovra::WideFromUtf8("\xE2\x82")), u"\uFFFD\uFFFD");
  EXPECT_EQ(ovra::Utf16FromWide(ovra::WideFromUtf8("\xC0\xAF")), u"\uFFFD\uFFFD");
}

// The buffer form decodes as WideFromUtf8 does, writing only what fits (a
// surrogate pair may be cut, where wchar_t is 16-bit) and counting the rest.
TEST(Strings, WideFromUtf8IntoABuffer) {
  for (const char* sample : {"", "ascii", "a\xC3\xA9\xF0\x9F\x98\x80 z", "\xE2\x82"}) {
    const std::wstring whole = ovra::WideFromUtf8(sample);
    for (std::size_t capacity = 0; capacity <= whole.size() + 1; ++capacity) {
      std::wstring buffer(capacity + 1, L'#');
      EXPECT_EQ(whole.size(), ovra::WideFromUtf8(sample, buffer.data(), capacity)) << sample;
      const std::size_t written = std::min(capacity, whole.size());
      EXPECT_EQ(whole.substr(0, written) + L'#', buffer.substr(0, written + 1)) << sample << " in " << capacity;
    }
  }
}

}  // namespace
