// The progress state machine and the PROGRESS parser, fed with message texts
// in Windows Installer's format.
#include <gtest/gtest.h>

#include <tuple>
#include <vector>

#include "msi_wrapper/setup_progress.h"

namespace {

using installer::msi_wrapper::ApplyInstallMessage;
using installer::msi_wrapper::ParseProgressMessage;
using installer::msi_wrapper::ProgressPercentage;
using installer::msi_wrapper::ProgressState;

struct Step {
  UINT type;
  const wchar_t* text;
};

// The state after feeding the messages in order.
ProgressState Feed(const std::vector<Step>& steps) {
  ProgressState state;
  for (const Step& step : steps) ApplyInstallMessage(state, step.type, step.text);
  return state;
}

constexpr UINT kProgress = INSTALLMESSAGE_PROGRESS;
constexpr UINT kData = INSTALLMESSAGE_ACTIONDATA;
constexpr UINT kStart = INSTALLMESSAGE_ACTIONSTART;

TEST(ProgressParser, ReadsTheFieldsAMessageCarries) {
  struct Case {
    const wchar_t* text;
    bool parsed;
    int field1, field2, field3, field4;
  } cases[] = {
      {L"1: 0 2: 24017 3: 0 4: 0 ", true, 0, 24017, 0, 0},
      {L"1: 2 2: 17 3: 9 4: 9 ", true, 2, 17, 7, 7},  // a report ends after field 2
      {L"1: 1 2: 10 3: 1 4: 9 ", true, 1, 10, 1, 7},  // action info ends after field 3
      {L"1: 0 2: 400", true, 0, 400, 7, 7},           // the end of the text ends the parse
      {L"1: 2 2: -5 ", true, 2, -5, 7, 7},
      {L"1: 2 2: x ", true, 2, 0, 7, 7},              // no digits read as 0
      {L"", false, 7, 7, 7, 7},
      {L"1: x 2: 5 ", false, 7, 7, 7, 7},             // field 1 must be a digit
      {L"1:", false, 7, 7, 7, 7},                     // and must be there
      {L"5: 1 ", false, 7, 7, 7, 7},
      {L"Action 9:04:38: InstallFiles.", false, 7, 7, 7, 7},
  };
  for (const Case& c : cases) {
    ProgressState state;
    state.field1 = state.field2 = state.field3 = state.field4 = 7;
    EXPECT_EQ(c.parsed, ParseProgressMessage(c.text, state)) << c.text;
    if (c.parsed) {
      EXPECT_EQ(std::make_tuple(c.field1, c.field2, c.field3, c.field4),
                std::make_tuple(state.field1, state.field2, state.field3, state.field4))
          << c.text;
    }
  }
}

TEST(ProgressStateMachine, MovesTheBarAsTheMessagesSay) {
  struct Case {
    const char* what;
    std::vector<Step> steps;
    int percentage;
    bool forward;
  } cases[] = {
      {"forward reports add up, truncated",
       {{kProgress, L"1: 0 2: 400 3: 0 4: 0 "}, {kProgress, L"1: 2 2: 100 3: 0 4: 0 "},
        {kProgress, L"1: 2 2: 50 3: 0 4: 0 "}},
       37, true},
      {"a backward range starts full and steps down per ActionData",
       {{kProgress, L"1: 0 2: 200 3: 1 4: 0 "}, {kProgress, L"1: 1 2: 10 3: 1 "}, {kData, L"File: a"}},
       95, false},
      {"a backward report counts down from the end",
       {{kProgress, L"1: 0 2: 200 3: 1 4: 0 "}, {kProgress, L"1: 2 2: 50 3: 0 4: 0 "}},
       75, false},
      {"after a script-phase reset the next range starts full",
       {{kProgress, L"1: 0 2: 100 3: 0 4: 1 "}, {kProgress, L"1: 0 2: 300 3: 0 4: 0 "}},
       100, true},
      {"action info with field 3 = 0 stops ActionData from moving the bar",
       {{kProgress, L"1: 0 2: 100 3: 0 4: 0 "}, {kProgress, L"1: 1 2: 10 3: 1 "}, {kData, L"a"},
        {kProgress, L"1: 1 2: 10 3: 0 "}, {kData, L"b"}},
       10, true},
      {"an ActionStart does the same",
       {{kProgress, L"1: 0 2: 100 3: 0 4: 0 "}, {kProgress, L"1: 1 2: 10 3: 1 "}, {kStart, L"Action 1:00:00: X. "},
        {kData, L"b"}},
       0, true},
      {"ActionData before any reset moves nothing",
       {{kProgress, L"1: 1 2: 10 3: 1 "}, {kData, L"a"}, {kData, L"b"}},
       0, true},
      {"reports beyond the total stop at 100",
       {{kProgress, L"1: 0 2: 100 3: 0 4: 0 "}, {kProgress, L"1: 2 2: 70 3: 0 4: 0 "},
        {kProgress, L"1: 2 2: 70 3: 0 4: 0 "}},
       100, true},
      {"a backward step of the most negative size stays in range",
       {{kProgress, L"1: 0 2: 200 3: 1 4: 0 "}, {kProgress, L"1: 1 2: -2147483648 3: 1 "}, {kData, L"a"}},
       100, false},
      {"an unparsable PROGRESS changes nothing",
       {{kProgress, L"1: 0 2: 100 3: 0 4: 0 "}, {kProgress, L"1: 2 2: 30 3: 0 4: 0 "}, {kProgress, L"garbage"}},
       30, true},
  };
  for (const Case& c : cases) {
    const ProgressState state = Feed(c.steps);
    EXPECT_EQ(c.percentage, ProgressPercentage(state)) << c.what;
    EXPECT_EQ(c.forward, state.forward) << c.what;
  }
}

TEST(ProgressStateMachine, FollowsOnlyTheMessagesTheEngineUses) {
  ProgressState state;
  EXPECT_FALSE(ApplyInstallMessage(state, kProgress, nullptr));
  EXPECT_FALSE(ApplyInstallMessage(state, INSTALLMESSAGE_INFO, L"Action start 1:00:00: X."));
  EXPECT_FALSE(ApplyInstallMessage(state, INSTALLMESSAGE_INITIALIZE, L""));
  for (UINT type : {INSTALLMESSAGE_ERROR, INSTALLMESSAGE_WARNING, INSTALLMESSAGE_OUTOFDISKSPACE,
                    INSTALLMESSAGE_COMMONDATA, INSTALLMESSAGE_ACTIONDATA}) {
    EXPECT_TRUE(ApplyInstallMessage(state, type | 0x10, L"text")) << std::hex << type;  // flags below the type
  }
  EXPECT_TRUE(ApplyInstallMessage(state, kStart, L"Action 9:04:38: InstallFiles. Copying new files"));
  EXPECT_EQ(L"Action 9:04:38: InstallFiles. Copying new files", state.actionText);
}

}  // namespace
