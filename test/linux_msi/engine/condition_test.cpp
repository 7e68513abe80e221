#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "fake_session.h"

namespace linux_msi {
void PrintTo(ConditionResult result, std::ostream* out) {
  static const char* const kNames[] = {"kFalse", "kTrue", "kNone", "kError"};
  *out << kNames[static_cast<int>(result)];
}
}  // namespace linux_msi

namespace {

using linux_msi::ConditionResult;
using linux_msi::EvaluateCondition;
constexpr ConditionResult T = ConditionResult::kTrue, F = ConditionResult::kFalse,
                          kNone = ConditionResult::kNone, kError = ConditionResult::kError;

struct Case {
  const wchar_t* condition;
  ConditionResult expected;
};

class Condition : public ::testing::Test {
 protected:
  Condition() {
    session_.properties = {{L"Five", L"5"},     {L"Ten", L"10"},      {L"Neg", L"-3"},      {L"Zero", L"0"},
                           {L"Empty", L""},     {L"Mixed", L"50val"}, {L"Plus", L"+5"},     {L"Dec", L"5.0"},
                           {L"Flags", L"196610"} /* 0x00030002 */,    {L"Text", L"Hello World"}};
    session_.environment = {{L"HOME", L"/home/user"}};
    session_.component_action = {{L"Comp", 3}};
    session_.component_installed = {{L"Comp", 2}};
    session_.feature_action = {{L"Feat", 3}};
    session_.feature_installed = {{L"Feat", 4}};
  }
  ConditionResult Eval(const std::wstring& text) const { return EvaluateCondition(text, session_); }
  void Check(std::initializer_list<Case> cases) const {
    for (const Case& c : cases) EXPECT_EQ(Eval(c.condition), c.expected) << "condition: " << testing::PrintToString(std::wstring(c.condition));
  }
  msi_engine_test::FakeSession session_;
};

TEST_F(Condition, PrecedenceRunsNotAndOrXorEqvImp) {
  Check({{L"NOT 0 AND 0", F},     {L"NOT Five = 5", F},   {L"0 AND 0 OR 1", T},   {L"1 XOR 0 OR 1", F},
         {L"0 EQV 0 OR 1", F},    {L"0 IMP 0 XOR 1", T},  {L"0 IMP 0 EQV 0", T},  {L"0 AND 0 IMP 0", T},
         {L"1 OR 0 IMP 0", F},    {L"0 IMP 0 IMP 0", F} /* left to right */,      {L"(1 XOR 0) OR 1", T},
         {L"not 0 and 1", T},     {L"1 xOr 1", F},        {L"0 eqv 1", F},        {L"1 Imp 0", F},
         {L"NOT NOT 1", T},       {L"NOT (1 AND 1)", F},  {L"((((1))))", T}});
}

TEST_F(Condition, IntegersCompareAsNumbersAndBitwise) {
  Check({{L"1", T},           {L"0", F},             {L"-1", T},           {L"-5 < -3", T},     {L"2 >= 2", T},
         {L"2 > 2", F},       {L"2 <= 1", F},        {L"3 <> 3", F},       {L"1 ~= 1", T},      {L"1 ~< 2", T},
         {L"2147483647 > -2147483648", T},           {L"6 >< 3", T},       {L"4 >< 3", F},      {L"Flags << 3", T},
         {L"Flags >> 2", T},  {L"Flags << 2", F},    {L"Flags >> 3", F},   {L"-1 << 65535", T}, {L"-1 >> -1", F}});
}

TEST_F(Condition, StringsCompareByCodePointAndTildeIgnoresCase) {
  Check({{L"Text = \"Hello World\"", T}, {L"Text = \"hello world\"", F}, {L"Text ~= \"hELLO wORLD\"", T},
         {L"\"A\" < \"B\"", T},  {L"\"a\" < \"B\"", F},   {L"\"a\" ~< \"B\"", T},  {L"\"a\" ~<> \"A\"", F},
         {L"\"100\" < \"21\"", T} /* two literals stay strings */,  {L"\"\u00c9t\u00c9\" ~= \"\u00e9T\u00e9\"", T},
         {L"\"\u0416\" ~= \"\u0436\"", T},     {L"\"\u0416\" = \"\u0436\"", F}});
}

TEST_F(Condition, SubstringOperators) {
  Check({{L"Text >< \"lo W\"", T},  {L"Text >< \"lo w\"", F},  {L"Text ~>< \"LO w\"", T},
         {L"Text << \"Hell\"", T},  {L"Text << \"World\"", F}, {L"Text ~<< \"hELL\"", T},
         {L"Text >> \"World\"", T}, {L"Text >> \"Hello\"", F}, {L"Text ~>> \"WORLD\"", T},
         {L"Text >> \"xHello World\"", F}, {L"Empty >< \"a\"", F}, {L"Text >< Empty", T}, {L"Empty << Empty", F}});
}

TEST_F(Condition, IntegersMeetStringsAsDocumented) {
  Check({{L"Five = 5", T},   {L"Five < 10", T},      {L"Ten > Five", T} /* "10" < "5" as text */,
         {L"Neg < 0", T},    {L"Mixed = 50", F},     {L"Mixed <> 50", T},   {L"Mixed ~<> 50", T},  {L"Mixed > 5", F},
         {L"Unset = 0", F},  {L"Unset <> 0", T},     {L"Plus = 5", F},      {L"Dec = 5", F},       {L"1 = \"1\"", F},
         {L"1 <> \"1\"", T}, {L"Ten > \"9\"", T},    {L"\"10\" > \"9\"", F}, {L"Mixed > \"5\"", T},
         {L"Zero", T} /* set, whatever the value */, {L"Unset", F},         {L"Empty", F},         {L"\"\"", F},
         {L"\"0\"", T},      {L"NOT Unset", T}});
}

TEST_F(Condition, StatesAndEnvironment) {
  Check({{L"$Comp = 3", T},  {L"?Comp = 2", T},  {L"&Feat = 3", T},   {L"!Feat = 4", T},  {L"&Feat = \"3\"", F},
         {L"$Comp", T},      {L"$Comp > 2 AND ?Comp < 3", T},         {L"&Missing = -1", T},
         {L"%HOME = \"/home/user\"", T},      {L"%HOME << \"/home\"", T}, {L"%NOPE", F}});
}

TEST_F(Condition, BlankIsNoneAndBadSyntaxIsError) {
  Check({{L"", kNone},          {L"  \t\r\n", kNone},   {L"(1", kError},         {L"1)", kError},
         {L"()", kError},       {L"(((1))))", kError},  {L"1 AND", kError},      {L"AND 1", kError},
         {L"NOT", kError},      {L"1 =", kError},       {L"= 1", kError},        {L"1 = = 1", kError},
         {L"0 < > 0", kError},  {L"\"abc", kError},     {L"A # B", kError},      {L"A != B", kError},
         {L"1 IMPL 1", kError}, {L"A B", kError},       {L"1.5 = 1", kError},    {L"12ab", kError},
         {L"~NOT 1", kError},   {L"A ~ = B", kError},   {L"(1) = 1", kError},    {L"$ Comp", kError},
         {L"%", kError},        {L"99999999999", kError}, {L"1 AND ()", kError}, {L"A = \"x\" \x01", kError}});
}

TEST_F(Condition, NestingIsBoundedAndLongChainsAreFine) {
  EXPECT_EQ(Eval(std::wstring(100, L'(') + L"1" + std::wstring(100, L')')), T);
  EXPECT_EQ(Eval(std::wstring(1000, L'(') + L"1" + std::wstring(1000, L')')), kError);
  std::wstring nots, chain;
  for (int i = 0; i < 100000; ++i) nots += L"NOT ";
  EXPECT_EQ(Eval(nots + L"1"), kError);
  for (int i = 0; i < 50000; ++i) chain += L"Five = 5 AND ";
  EXPECT_EQ(Eval(chain + L"1"), T);
}

// Every proper prefix of a parenthesised condition lacks its last parenthesis.
TEST_F(Condition, EveryTruncationIsAnError) {
  const std::wstring full = L"(NOT (Text >< \"lo\" OR $Comp >< 2) AND %HOME ~<< \"/H\" XOR Five ~>= -3)";
  ASSERT_EQ(Eval(full), T);
  for (std::size_t length = 1; length < full.size(); ++length) {
    EXPECT_EQ(Eval(full.substr(0, length)), kError) << "prefix of length " << length;
  }
}

// Over all short strings of a small alphabet: parentheses change nothing and
// NOT flips the outcome of anything that is valid.
TEST_F(Condition, ParenthesesAndNotAgreeOnAllShortInputs) {
  std::size_t checked = 0;
  msi_engine_test::ForEachString(L"()01A =<>~\"", 5, [&](const std::wstring& text) {
    ++checked;
    const ConditionResult plain = Eval(text);
    if (text.find_first_not_of(L' ') == std::wstring::npos) {
      EXPECT_EQ(plain, kNone);
    } else {
      EXPECT_EQ(Eval(L"(" + text + L")"), plain) << testing::PrintToString(text);
      const ConditionResult negated = plain == T ? F : plain == F ? T : kError;
      EXPECT_EQ(Eval(L"NOT (" + text + L")"), negated) << testing::PrintToString(text);
    }
    return !HasFailure();
  });
  EXPECT_GT(checked, 100000u);
}

}  // namespace
