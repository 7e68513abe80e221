#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_session.h"

namespace {

using linux_msi::FormatText;

struct Case {
  std::wstring text, expected;
};

class Format : public ::testing::Test {
 protected:
  Format() {
    session_.properties = {{L"Name", L"World"},   {L"Empty", L""},       {L"Indirect", L"Name"},
                           {L"Nested", L"[Name]"}, {L"One", L"1"},        {L"Back", L"\\blath"}};
    session_.fields = {L"boo", L"hoo", L"[Name]", L"", L"2", L"me"};
    session_.environment = {{L"HOME", L"/home/user"}};
    session_.files = {{L"Main", L"/opt/app/main.exe"}};
    session_.component_folders = {{L"Core", L"/opt/app/core/"}};
  }
  void Check(std::initializer_list<Case> cases) const {
    for (const Case& c : cases) {
      EXPECT_EQ(FormatText(c.text, session_), c.expected) << "text: " << testing::PrintToString(c.text);
    }
  }
  msi_engine_test::FakeSession session_;
};

TEST_F(Format, ReferencesOfEveryKind) {
  Check({{L"Hello [Name]!", L"Hello World!"},   {L"[Missing]x", L"x"},               {L"[1] [2]", L"boo hoo"},
         {L"[9]", L""},                         {L"[%HOME]/x", L"/home/user/x"},     {L"[#Main]", L"/opt/app/main.exe"},
         {L"[!Main]", L"/opt/app/main.exe"},    {L"[$Core]lib", L"/opt/app/core/lib"},
         {L"a[~]b", std::wstring(L"a\0b", 3)},  {L"[~x]", L""}});
}

TEST_F(Format, BracketsResolveFromTheInsideOut) {
  Check({{L"[[Indirect]]", L"World"},  {L"[Indirect]", L"Name"},  {L"[Nested]", L"[Name]"} /* values are not rescanned */,
         {L"[Na[6]]", L"World"},       {L"[[5]]", L"hoo"},        {L"[3]", L"World"} /* a field's properties expand */,
         {L"[[One]]", L"[1]"} /* a looked-up number is not a field */, {L"[[Back]]", L"b"}, {L"[#[Indirect]x]", L""}});
}

TEST_F(Format, EscapesAndUnmatchedBrackets) {
  Check({{L"[\\[]Bracket Text[\\]]", L"[Bracket Text]"}, {L"[\\abc]", L"a"},  {L"[\\x]y]", L"xy]"},
         {L"[\\[a]", L"["},     {L"[]", L"[]"},      {L"[[]", L"[[]"},      {L"[Name", L"[Name"},  {L"Name]", L"Name]"},
         {L"[\\", L"[\\"},      {L"[\\]", L"[\\]"},  {L"[\\[", L"[\\["},    {L"\\x", L"\\x"},      {L"[[Name]", L"[World"}});
}

TEST_F(Format, GroupsVanishWhenAValueIsMissing) {
  Check({{L"{[Name]}", L"World"},          {L"{Hi [Name]!}", L"Hi World!"},   {L"{Hi [Missing]!}", L""},
         {L"{Hi [Empty]!}", L""},          {L"a{ [Name] [Missing]}b", L"ab"}, {L"{plain}", L"{plain}"},
         {L"{\\x}", L"{\\x}"},             {L"{[%HOME]}", L"{/home/user}"},   {L"{[4]x}", L""},
         {L"{[1]x}", L"boox"},             {L"[1]{, [2]}{, [4]}", L"boo, hoo"},
         {L"{{log only [Name]}}", L""},    {L"{{a}b}", L"{{a}b}"},            {L"{a", L"{a"},
         {L"a}", L"a}"},                   {L"{[Name]", L"{World"},           {L"{}", L"{}"}});
}

TEST_F(Format, DeeplyNestedOrUnbalancedTextComesBackUnchanged) {
  for (const std::wstring& text : {std::wstring(100000, L'{'), std::wstring(100000, L'['), std::wstring(100000, L']'),
                                   std::wstring(50000, L'{') + std::wstring(50000, L'['),
                                   [] { std::wstring s; for (int i = 0; i < 30000; ++i) s += L"{a[b"; return s; }()}) {
    EXPECT_EQ(FormatText(text, session_), text);
  }
}

// With every value no longer than its reference, no output can grow: checked
// over all short strings of the characters that matter.
TEST_F(Format, OutputNeverGrowsWhenValuesAreShort) {
  msi_engine_test::FakeSession session;
  session.fields = {L"1"};
  session.properties = {{L"N", L"~"}};
  msi_engine_test::ForEachString(L"[]{}\\~1N", 6, [&](const std::wstring& text) {
    EXPECT_LE(FormatText(text, session).size(), text.size()) << testing::PrintToString(text);
    return !HasFailure();
  });
}

}  // namespace
