#include <gtest/gtest.h>

#include <tuple>

#include "msi_wrapper/product_version.h"

namespace {

using installer::msi_wrapper::MsiProductVersion;

std::tuple<std::uint32_t, std::uint32_t, std::uint32_t> Parts(const wchar_t* text) {
  const MsiProductVersion version(text);
  return {version.major, version.minor, version.build};
}

using P = std::tuple<std::uint32_t, std::uint32_t, std::uint32_t>;

TEST(MsiProductVersion, ParsesThreeParts) {
  EXPECT_EQ(P(0, 0, 0), Parts(L"0.0.0"));
  EXPECT_EQ(P(99999, 99999, 99999), Parts(L"99999.99999.99999"));
  EXPECT_EQ(P(4, 0, 2), Parts(L"4.0.2.77"));  // the fourth part is ignored
  EXPECT_EQ(P(2, 5, 0), Parts(L"2.5"));
  EXPECT_EQ(P(7, 0, 0), Parts(L"7"));
  EXPECT_EQ(P(0, 0, 0), Parts(L""));
  EXPECT_EQ(P(1, 0, 0), Parts(L"1."));
}

TEST(MsiProductVersion, StopsAtAPartWithoutANumber) {
  EXPECT_EQ(P(0, 0, 0), Parts(L".1.2"));      // the empty first part ends it
  EXPECT_EQ(P(1, 0, 0), Parts(L"1..3"));
  EXPECT_EQ(P(1, 0, 0), Parts(L"1.00.3"));    // zero written with two digits
  EXPECT_EQ(P(1, 0, 0), Parts(L"1.beta.3"));  // a part that begins with a letter
  EXPECT_EQ(P(1, 2, 3), Parts(L"1.2rc.3"));   // trailing letters keep the number
  EXPECT_EQ(P(1, 2, 0), Parts(L"1.2.x"));
  EXPECT_EQ(P(3, 4, 0), Parts(L" 3. 4"));     // leading white space is skipped
}

TEST(MsiProductVersion, NegativePartsKeepTheirUnsignedForm) {
  EXPECT_EQ(P(1, 4294967295u, 0), Parts(L"1.-1.0"));
  EXPECT_TRUE(MsiProductVersion(L"1.99999.0") < MsiProductVersion(L"1.-1.0"));
}

TEST(MsiProductVersion, ComparesNumerically) {
  EXPECT_TRUE(MsiProductVersion(L"1.2.3") < MsiProductVersion(L"1.10.0"));
  EXPECT_FALSE(MsiProductVersion(L"1.10.0") < MsiProductVersion(L"1.2.3"));
  EXPECT_FALSE(MsiProductVersion(L"2.0.0") < MsiProductVersion(L"2.0.0"));
  EXPECT_TRUE(MsiProductVersion(L"2.0.0") == MsiProductVersion(L"2.0"));
  EXPECT_TRUE(MsiProductVersion(L"4.0.2.1") == MsiProductVersion(L"4.0.2.9"));
  EXPECT_FALSE(MsiProductVersion(L"4.0.2") == MsiProductVersion(L"4.0.3"));
  EXPECT_FALSE(MsiProductVersion(L"4.0.2.1") < MsiProductVersion(L"4.0.2.9"));
}

}  // namespace
