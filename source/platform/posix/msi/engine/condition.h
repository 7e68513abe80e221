// The Windows Installer condition language: properties, environment variables,
// component and feature states, integers and strings, the comparison and
// substring operators (with their ~ case-insensitive forms) and
// NOT AND OR XOR EQV IMP, evaluated as MsiEvaluateCondition does.
#pragma once

#include <string>

namespace msi_posix {

// The values of MSICONDITION.
enum class ConditionResult { kFalse = 0, kTrue = 1, kNone = 2, kError = 3 };

// What a condition can name. Every lookup is by exact (case-sensitive) name.
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

// kNone for an empty (or all-blank) condition, kError for a syntax error.
ConditionResult EvaluateCondition(const std::wstring& condition, const ConditionContext& context);

}  // namespace msi_posix
