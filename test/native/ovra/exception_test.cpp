#include "ovra/exception.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

namespace {

constexpr char kSourcePath[] = "ovra_tests/exception_test";

using ovra::CheckFailedException;
using ovra::CheckResultFailedException;
using ovra::MakeResult;
using ovra::ResultCodeException;

// A framework exception that adds nothing, to reach the base behaviour.
class PlainException : public ovra::ExceptionBase<PlainException, ovra::Exception> {
 public:
  using ExceptionBase::ExceptionBase;
};

TEST(ExceptionDescription, CodeAloneIsPaddedLowerCaseHex) {
  EXPECT_EQ(ResultCodeException(0).GetDescription(), L"0x00000000 (No error)");
  EXPECT_EQ(ResultCodeException(0x2A).GetDescription(), L"0x0000002a (Unknown result code)");
  EXPECT_EQ(CheckResultFailedException("a/b", 7, MakeResult(0x8000004C)).GetDescription(),
            L"0x8000004c (Not found)");
  EXPECT_EQ(ResultCodeException(MakeResult(0x80000000)).GetDescription(), L"0x80000000 (Unknown result code)");
}

TEST(ExceptionDescription, MessageIsFollowedByColon) {
  EXPECT_EQ(ResultCodeException(MakeResult(0x80010102), L"Opening the block").GetDescription(),
            L"Opening the block: 0x80010102 (File not found)");
  EXPECT_EQ(ResultCodeException(MakeResult(0x80000045), L" ").GetDescription(), L" : 0x80000045 (Access denied)");
}

TEST(ExceptionDescription, PlatformFacilityUsesPlatformTexts) {
  EXPECT_EQ(ResultCodeException(MakeResult(0x80010115)).GetDescription(), L"0x80010115 (Memory mapping failed)");
  EXPECT_EQ(ResultCodeException(MakeResult(0x8001010A)).GetDescription(),
            L"0x8001010a (Unknown platform result code)");
  EXPECT_EQ(ResultCodeException(MakeResult(0x8001010F)).GetDescription(),
            L"0x8001010f (Unknown platform result code)");
  // Positive values of facility 1 are still platform codes.
  EXPECT_EQ(ResultCodeException(MakeResult(0x0001002A)).GetDescription(),
            L"0x0001002a (Unknown platform result code)");
  // A wrapped Win32 error has no text of its own.
  EXPECT_EQ(ResultCodeException(MakeResult(0x80070005)).GetDescription(), L"0x80070005 (Unknown result code)");
}

TEST(ExceptionDescription, ExceptionsWithoutCodeDescribeTheirMessage) {
  EXPECT_EQ(PlainException(L"message text").GetDescription(), L"message text");
  EXPECT_EQ(CheckFailedException("a/b", 3).GetDescription(), L"");
}

TEST(Exception, WhatIsTheClassName) {
  const PlainException plain(L"message");
  const ResultCodeException result(MakeResult(0x8000004C), L"message");
  const CheckResultFailedException check_result("a/b", 1, MakeResult(0x8000004C));
  const CheckFailedException check("a/b", 1);
  // Through base references, as the bridge reads them.
  const std::exception* all[] = {&plain, &result, &check_result, &check};
  const char* expected[] = {"Unknown exception", "ResultCodeException", "CheckResultFailedException",
                            "CheckFailedException"};
  for (int i = 0; i < 4; ++i) EXPECT_STREQ(all[i]->what(), expected[i]);
}

TEST(Exception, DefaultsAndConstructorArguments) {
  const ResultCodeException result(MakeResult(0x80000041), L"m");
  EXPECT_EQ(result.GetSourceFile(), nullptr);
  EXPECT_EQ(result.GetSourceLine(), 0);
  EXPECT_EQ(result.GetMessageText(), L"m");
  EXPECT_EQ(result.GetCode(), MakeResult(0x80000041));

  const CheckResultFailedException check("machine_id/machine_id", 214, MakeResult(0x80000046));
  EXPECT_STREQ(check.GetSourceFile(), "machine_id/machine_id");
  EXPECT_EQ(check.GetSourceLine(), 214);
  EXPECT_EQ(check.GetMessageText(), L"");
  EXPECT_EQ(check.GetCode(), MakeResult(0x80000046));
}

TEST(Exception, ThrowThroughBaseThrowsMostDerivedCopy) {
  const CheckResultFailedException original("a/b", 59, MakeResult(0x80010101));
  const ovra::Exception& base = original;
  try {
    base.Throw();
    FAIL() << "Throw() returned";
  } catch (const CheckResultFailedException& caught) {
    EXPECT_NE(&caught, &original);
    EXPECT_EQ(caught.GetCode(), MakeResult(0x80010101));
    EXPECT_EQ(caught.GetSourceLine(), 59);
  }

  // A handler for the base class also takes it.
  EXPECT_THROW(base.Throw(), ResultCodeException);

  // A ResultCodeException is not promoted to a derived class, and a
  // CheckFailedException carries no code.
  const ResultCodeException result(MakeResult(0x8000004C));
  const ovra::Exception& result_base = result;
  try {
    result_base.Throw();
  } catch (const CheckResultFailedException&) {
    ADD_FAILURE() << "caught as CheckResultFailedException";
  } catch (const ResultCodeException& caught) {
    EXPECT_EQ(caught.GetCode(), MakeResult(0x8000004C));
  }
  const CheckFailedException check("a/b", 2);
  const ovra::Exception& check_base = check;
  try {
    check_base.Throw();
  } catch (const ResultCodeException&) {
    ADD_FAILURE() << "caught as ResultCodeException";
  } catch (const CheckFailedException& caught) {
    EXPECT_EQ(caught.GetSourceLine(), 2);
  }
}

TEST(Exception, CloneCopiesEveryFieldAsMostDerivedType) {
  std::unique_ptr<ovra::Exception> clone;
  {
    const CheckResultFailedException original("installer_vesk/interop_helpers", 59, MakeResult(0x80000045));
    const ovra::Exception& base = original;
    clone = base.Clone();
  }
  ASSERT_NE(clone, nullptr);
  const auto* typed = dynamic_cast<const CheckResultFailedException*>(clone.get());
  ASSERT_NE(typed, nullptr);
  EXPECT_STREQ(typed->GetSourceFile(), "installer_vesk/interop_helpers");
  EXPECT_EQ(typed->GetSourceLine(), 59);
  EXPECT_EQ(typed->GetCode(), MakeResult(0x80000045));
  EXPECT_STREQ(clone->what(), "CheckResultFailedException");
  EXPECT_EQ(clone->GetDescription(), L"0x80000045 (Access denied)");

  const ResultCodeException with_message("f", 9, MakeResult(0x80000041), L"allocating");
  const std::unique_ptr<ovra::Exception> message_clone = with_message.Clone();
  EXPECT_EQ(message_clone->GetMessageText(), L"allocating");
  EXPECT_EQ(message_clone->GetDescription(), with_message.GetDescription());
  EXPECT_THROW(message_clone->Throw(), ResultCodeException);

  const PlainException plain("f", 4, L"text");
  const std::unique_ptr<ovra::Exception> plain_clone = plain.Clone();
  EXPECT_NE(dynamic_cast<const PlainException*>(plain_clone.get()), nullptr);
  EXPECT_EQ(plain_clone->GetDescription(), L"text");
  EXPECT_EQ(plain_clone->GetSourceLine(), 4);
}

TEST(CheckHelpers, CheckThrowsWithSourcePlace) {
  int evaluations = 0;
  EXPECT_NO_THROW(OVRA_CHECK(++evaluations == 1));
  EXPECT_EQ(evaluations, 1);
  const int line = __LINE__ + 2;
  try {
    OVRA_CHECK(evaluations == 0);
    FAIL() << "no exception";
  } catch (const CheckFailedException& caught) {
    EXPECT_EQ(caught.GetSourceFile(), static_cast<const char*>(kSourcePath));
    EXPECT_EQ(caught.GetSourceLine(), line);
  }
}

TEST(CheckHelpers, CheckResultPassesNonFailuresAndThrowsFailures) {
  int evaluations = 0;
  const auto produce = [&evaluations](ovra::result_t code) {
    ++evaluations;
    return code;
  };
  EXPECT_EQ(OVRA_CHECK_RESULT(produce(ovra::kResultFalse)), ovra::kResultFalse);
  EXPECT_EQ(OVRA_CHECK_RESULT(produce(ovra::kResultOk)), ovra::kResultOk);
  EXPECT_EQ(evaluations, 2);
  const int line = __LINE__ + 2;
  try {
    OVRA_CHECK_RESULT(produce(ovra::kResultNotFound));
    FAIL() << "no exception";
  } catch (const CheckResultFailedException& caught) {
    EXPECT_EQ(evaluations, 3);
    EXPECT_STREQ(caught.GetSourceFile(), kSourcePath);
    EXPECT_EQ(caught.GetSourceLine(), line);
    EXPECT_EQ(caught.GetCode(), ovra::kResultNotFound);
    EXPECT_EQ(caught.GetDescription(), L"0x8000004c (Not found)");
  }
}

}  // namespace
