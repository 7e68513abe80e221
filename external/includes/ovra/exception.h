// The framework's exception family and the check helpers that throw it.
//
//   Exception                    source place and message; abstract
//   ResultCodeException          adds a result code
//   CheckResultFailedException   a failed result check: source place and code
//   CheckFailedException         a failed condition check: source place
//
// what() gives the class name only; GetDescription() gives the readable text.
#pragma once

#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <type_traits>
#include <utility>

#include "ovra/result.h"

namespace ovra {

class Exception : public std::exception {
 public:
  Exception() = default;
  explicit Exception(std::wstring message) : message_(std::move(message)) {}
  Exception(const char* file, std::int32_t line, std::wstring message = {})
      : file_(file), line_(line), message_(std::move(message)) {}
  Exception(const Exception&) = default;
  Exception& operator=(const Exception&) = default;
  ~Exception() override = default;

  const char* what() const noexcept override { return "Unknown exception"; }

  // A copy of the message.
  virtual std::wstring GetDescription() const { return message_; }
  // Throws a copy of this object as its most-derived type.
  [[noreturn]] virtual void Throw() const = 0;
  // A heap copy of this object as its most-derived type.
  virtual std::unique_ptr<Exception> Clone() const = 0;

  // Path of the throwing source file relative to the source tree; null when not given.
  const char* GetSourceFile() const noexcept { return file_; }
  std::int32_t GetSourceLine() const noexcept { return line_; }
  const std::wstring& GetMessageText() const noexcept { return message_; }

 private:
  const char* file_ = nullptr;
  std::int32_t line_ = 0;
  std::wstring message_;
};

// Implements Throw() and Clone() for Derived, which derives from ExceptionBase<Derived, Base>.
template <typename Derived, typename Base>
class ExceptionBase : public Base {
  static_assert(std::is_base_of_v<Exception, Base>, "Base must be a framework exception");

 public:
  using Base::Base;

  [[noreturn]] void Throw() const override { throw static_cast<const Derived&>(*this); }

  std::unique_ptr<Exception> Clone() const override {
    return std::make_unique<Derived>(static_cast<const Derived&>(*this));
  }
};

class ResultCodeException : public ExceptionBase<ResultCodeException, Exception> {
 public:
  explicit ResultCodeException(result_t code, std::wstring message = {})
      : ExceptionBase(std::move(message)), code_(code) {}
  ResultCodeException(const char* file, std::int32_t line, result_t code, std::wstring message = {})
      : ExceptionBase(file, line, std::move(message)), code_(code) {}

  const char* what() const noexcept override { return "ResultCodeException"; }

  // "<message>: 0x<code, 8 lower-case digits> (<code text>)"; without ": " when
  // the message is empty.
  std::wstring GetDescription() const override {
    static constexpr wchar_t kDigits[] = L"0123456789abcdef";
    const auto bits = static_cast<std::uint32_t>(code_);
    const wchar_t* text = IsPlatformResultCode(code_) ? GetPlatformResultCodeDescription(code_)
                                                      : GetResultCodeDescription(code_);
    std::wstring description = GetMessageText();
    if (!description.empty()) description += L": ";
    description += L"0x";
    for (int shift = 28; shift >= 0; shift -= 4) description += kDigits[(bits >> shift) & 0xF];
    description += L" (";
    description += text;
    description += L")";
    return description;
  }

  result_t GetCode() const noexcept { return code_; }

 private:
  result_t code_;
};

class CheckResultFailedException : public ExceptionBase<CheckResultFailedException, ResultCodeException> {
 public:
  CheckResultFailedException(const char* file, std::int32_t line, result_t code)
      : ExceptionBase(file, line, code) {}

  const char* what() const noexcept override { return "CheckResultFailedException"; }
};

class CheckFailedException : public ExceptionBase<CheckFailedException, Exception> {
 public:
  CheckFailedException(const char* file, std::int32_t line) : ExceptionBase(file, line) {}

  const char* what() const noexcept override { return "CheckFailedException"; }
};

// Returns `code` when it is not a failure; otherwise throws CheckResultFailedException.
inline result_t CheckResult(result_t code, const char* file, std::int32_t line) {
  if (IsFailure(code)) throw CheckResultFailedException(file, line, code);
  return code;
}

}  // namespace ovra

// Check helpers. A source file that uses them defines its path relative to the
// source tree, without extension, before the first use:
//   constexpr char kSourcePath[] = "installer_vesk/interop_helpers";
// OVRA_CHECK(condition) throws CheckFailedException when the condition is false.
// OVRA_CHECK_RESULT(expression) evaluates a result_t expression once, throws
// CheckResultFailedException when it is a failure, and otherwise yields it.
#define OVRA_CHECK(condition)                                                    \
  do {                                                                           \
    if (!(condition)) throw ::ovra::CheckFailedException(kSourcePath, __LINE__); \
  } while (false)

#define OVRA_CHECK_RESULT(expression) ::ovra::CheckResult((expression), kSourcePath, __LINE__)
