#include "ovra/exception.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <typeinfo>

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

TEST(Exception, DescriptionIsMessageThenPaddedLowerCaseCodeAndItsText) {
  const std::pair<std::wstring, std::wstring> cases[] = {
      {ResultCodeException(0).GetDescription(), L"0x00000000 (No error)"},
      {ResultCodeException(0x2A).GetDescription(), L"0x0000002a (Unknown result code)"},
      {CheckResultFailedException("a/b", 7, MakeResult(0x8000004C)).GetDescription(), L"0x8000004c (Not found)"},
      {ResultCodeException(MakeResult(0x80010102), L"Opening the block").GetDescription(),
       L"Opening the block: 0x80010102 (File not found)"},
      {ResultCodeException(MakeResult(0x80000045), L" ").GetDescription(), L" : 0x80000045 (Access denied)"},
      {ResultCodeException(MakeResult(0x8001010A)).GetDescription(), L"0x8001010a (Unknown platform result code)"},
      {PlainException(L"message text").GetDescription(), L"message text"},
      {CheckFailedException("a/b", 3).GetDescription(), L""},
  };
  for (const auto& [actual, expected] : cases) EXPECT_EQ(actual, expected);
}

// what() is the text a script Error carries when the exception reaches the bridge.
// Throw() and Clone() through a base reference keep the most-derived type and its fields.
TEST(Exception, ThrowAndCloneKeepTheMostDerivedType) {
  const PlainException plain("f", 4, L"text");
  const ResultCodeException result("f", 9, MakeResult(0x80000041), L"allocating");
  const CheckResultFailedException check_result("a/b", 59, MakeResult(0x80010101));
  const CheckFailedException check("a/b", 2);
  const std::pair<const ovra::Exception*, const char*> cases[] = {
      {&plain, "Unknown exception"},
      {&result, "ResultCodeException"},
      {&check_result, "CheckResultFailedException"},
      {&check, "CheckFailedException"},
  };
  for (const auto& [original, what] : cases) {
    EXPECT_STREQ(original->what(), what);
    const std::unique_ptr<ovra::Exception> clone = original->Clone();
    try {
      clone->Throw();
    } catch (const ovra::Exception& thrown) {
      for (const ovra::Exception* copy : {static_cast<const ovra::Exception*>(clone.get()), &thrown}) {
        EXPECT_EQ(typeid(*copy), typeid(*original)) << what;
        EXPECT_NE(copy, original);
        EXPECT_EQ(copy->GetDescription(), original->GetDescription()) << what;
        EXPECT_EQ(copy->GetSourceLine(), original->GetSourceLine()) << what;
      }
    }
  }
  // A handler for a base class also takes it.
  EXPECT_THROW(check_result.Throw(), ResultCodeException);
}

TEST(CheckHelpers, ThrowWithTheSourcePlaceAndEvaluateOnce) {
  int evaluations = 0;
  EXPECT_NO_THROW(OVRA_CHECK(++evaluations == 1));
  int line = __LINE__ + 2;
  try {
    OVRA_CHECK(evaluations == 0);
    FAIL() << "no exception";
  } catch (const CheckFailedException& caught) {
    EXPECT_EQ(caught.GetSourceFile(), static_cast<const char*>(kSourcePath));
    EXPECT_EQ(caught.GetSourceLine(), line);
  }

  const auto produce = [&evaluations](ovra::result_t code) {
    ++evaluations;
    return code;
  };
  EXPECT_EQ(OVRA_CHECK_RESULT(produce(ovra::kResultFalse)), ovra::kResultFalse);
  EXPECT_EQ(OVRA_CHECK_RESULT(produce(ovra::kResultOk)), ovra::kResultOk);
  EXPECT_EQ(evaluations, 3);
  line = __LINE__ + 2;
  try {
    OVRA_CHECK_RESULT(produce(ovra::kResultNotFound));
    FAIL() << "no exception";
  } catch (const CheckResultFailedException& caught) {
    EXPECT_EQ(evaluations, 4);
    EXPECT_STREQ(caught.GetSourceFile(), kSourcePath);
    EXPECT_EQ(caught.GetSourceLine(), line);
    EXPECT_EQ(caught.GetCode(), ovra::kResultNotFound);
  }
}

}  // namespace
