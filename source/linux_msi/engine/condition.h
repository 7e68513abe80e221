// The Windows Installer condition language: properties, environment variables,
// component and feature states, integers and strings, the comparison and
// substring operators (with their ~ case-insensitive forms) and
// NOT AND OR XOR EQV IMP, evaluated as MsiEvaluateCondition does.
#pragma once

#include <string>

namespace linux_msi {

// The values of MSICONDITION.
enum class ConditionResult { kFalse = 0, kTrue = 1, kNone = 2, kError = 3 };

// What a condition can name. Every lookup is by exact (case-sensitive) name,
// except that the documentation calls environment names case-insensitive:
// Environment() decides how it matches them.
class ConditionContext {
 public:
  virtual ~ConditionContext() = default;
  // A property's value; empty when the property is not set.
  virtual std::wstring Property(const std::wstring& name) const = 0;
  // An environment variable's value (%NAME); empty when not set.
  virtual std::wstring Environment(const std::wstring& name) const = 0;
  // INSTALLSTATE values; INSTALLSTATE_UNKNOWN (-1) for a name that is not in the package.
  virtual int ComponentInstalledState(const std::wstring& name) const = 0;  // ?Component
  virtual int ComponentActionState(const std::wstring& name) const = 0;     // $Component
  virtual int FeatureInstalledState(const std::wstring& name) const = 0;    // !Feature
  virtual int FeatureActionState(const std::wstring& name) const = 0;       // &Feature
};

// kNone for an empty (or all-blank) condition, kError for a syntax error
// (including parentheses or NOTs nested more than 128 deep).
//
// Operands: a property or environment value is a string, and also an integer
// when its text is one ("-12" is, "+12", "1.0" and " 12" are not); a quoted
// literal is a string; integer literals and the four states are integers.
// Two integers compare as integers, and so do two strings when at least one
// is a property or environment value and both are integers. An integer
// against any other string is false for every operator but <>. On integers
// >< is a bitwise AND, << compares the high 16 bits of the left side and >>
// the low 16 bits; on strings they are contains, starts with and ends with
// (an empty left side holds nothing, an empty right side is in any other).
// A lone value is true when it is a non-empty string or a non-zero integer.
ConditionResult EvaluateCondition(const std::wstring& condition, const ConditionContext& context);

}  // namespace linux_msi
