#include <gtest/gtest.h>

#include <stdexcept>

#include "msi_wrapper/setup_parameters.h"

namespace {

using namespace installer::msi_wrapper;

std::vector<std::pair<std::wstring, std::wstring>> Pairs(const std::wstring& text) {
  std::vector<std::pair<std::wstring, std::wstring>> pairs;
  for (const SetupParameter& parameter : ParseSetupParameters(text)) {
    pairs.emplace_back(parameter.name, parameter.value);
  }
  return pairs;
}

using Expected = std::vector<std::pair<std::wstring, std::wstring>>;

TEST(SetupParameters, ParsesPlainAndQuotedValues) {
  EXPECT_EQ((Expected{{L"EDITION", L"1"}, {L"INSTALLDIR", L"C:\\Program Files\\Egret"}}),
            Pairs(L"EDITION=1 INSTALLDIR=\"C:\\Program Files\\Egret\""));
  EXPECT_EQ((Expected{{L"A", L"1"}, {L"B", L"2"}}), Pairs(L"A=1  B=2"));
  EXPECT_EQ((Expected{{L"A", L""}, {L"B", L""}}), Pairs(L"A=\"\" B=\""));
  EXPECT_EQ((Expected{{L"A", L""}, {L"B", L"x"}}), Pairs(L"A= B=x"));
  EXPECT_EQ(Expected{}, Pairs(L"no pairs at all"));
  EXPECT_EQ(Expected{}, Pairs(L""));
}

TEST(SetupParameters, AnEqualsSignWithoutANameYieldsNothing) {
  EXPECT_EQ(Expected{}, Pairs(L"NAME =value"));
  EXPECT_EQ((Expected{{L"B", L"2"}}), Pairs(L"=1 B=2"));
  EXPECT_EQ(Expected{}, Pairs(L"A ="));  // no name, so no error either
}

TEST(SetupParameters, AnEqualsSignInsideQuotesStartsAnotherPair) {
  EXPECT_EQ((Expected{{L"A", L"x=y"}, {L"A=\"x", L"y\""}, {L"B", L"2"}}), Pairs(L"A=\"x=y\" B=2"));
  EXPECT_EQ((Expected{{L"C", L"1"}, {L"A", L"p q=r"}, {L"q", L"r\""}}), Pairs(L"C=1 A=\"p q=r\""));
}

TEST(SetupParameters, ATrailingEqualsSignAfterANameThrows) {
  try {
    ParseSetupParameters(L"A=1 B=\"two words\" C=");
    FAIL() << "no exception";
  } catch (const std::out_of_range& error) {
    EXPECT_STREQ("invalid string position", error.what());
  }
  EXPECT_THROW(ParseSetupParameters(L"C="), std::out_of_range);
  EXPECT_EQ((Expected{{L"A", L"1"}, {L"B", L"two words"}}), Pairs(L"A=1 B=\"two words\""));
}

TEST(SetupParameters, PairsOfQuadraticSizeAreRefused) {
  std::wstring overlapping;  // "a=a=a=...": the k-th name is 2k - 1 characters long
  for (int i = 0; i < 2000; ++i) overlapping += L"a=";
  EXPECT_THROW(ParseSetupParameters(overlapping + L"a"), std::length_error);

  std::wstring many;  // as long a text, in ordinary pairs
  for (int i = 0; i < 2000; ++i) many += L"P" + std::to_wstring(i) + L"=1 ";
  EXPECT_EQ(2000u, ParseSetupParameters(many).size());
}

TEST(SetupParameters, FormatsACommandLine) {
  EXPECT_EQ(L"EDITION=\"pro\"", FormatSetupParameter(SetupParameter(L"EDITION", L"pro")));
  EXPECT_EQ(L"", FormatCommandLine({}));
  EXPECT_EQ(L" A=\"1\" B=\"two words\"",
            FormatCommandLine({SetupParameter(L"A", L"1"), SetupParameter(L"B", L"two words")}));
  // Parsing the formatted line gives the parameters back.
  const std::vector<SetupParameter> parameters{{L"X", L""}, {L"Y", L"a b"}};
  EXPECT_EQ((Expected{{L"X", L""}, {L"Y", L"a b"}}), Pairs(FormatCommandLine(parameters)));
}

}  // namespace
