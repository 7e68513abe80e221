// Public properties for an installation, as NAME=value pairs of a Windows
// Installer command line.
#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

namespace installer::msi_wrapper {

class SetupParameter {
 public:
  SetupParameter() = default;
  SetupParameter(std::wstring name, std::wstring value) : name(std::move(name)), value(std::move(value)) {}
  SetupParameter(const SetupParameter&) = default;
  SetupParameter& operator=(const SetupParameter&) = default;
  virtual ~SetupParameter() = default;

  std::wstring name;
  std::wstring value;  // without surrounding quotes
};

// The most characters the pairs of one text may hold in all.
constexpr std::size_t kMaxSetupParameterCharacters = 1 << 20;

// Reads every "=" of the text as one pair: the name runs back to the previous
// space, the value is either "quoted" (up to the next quote; empty when none
// follows) or runs to the next space. An "=" with no name before it yields
// nothing; an "=" inside a quoted value starts a pair of its own; values are
// never unescaped. Throws std::out_of_range("invalid string position") when the
// text ends with an "=" that follows a name. Names overlap ("a=b=c" gives the
// names "a" and "a=b"), so a long text of "=" without spaces would make pairs
// of quadratic size: past kMaxSetupParameterCharacters in all it throws
// std::length_error("setup parameters too long").
std::vector<SetupParameter> ParseSetupParameters(const std::wstring& text);

// name="value"
std::wstring FormatSetupParameter(const SetupParameter& parameter);

// A space before each formatted parameter: ` A="1" B="2"`; empty for no parameters.
std::wstring FormatCommandLine(const std::vector<SetupParameter>& parameters);

}  // namespace installer::msi_wrapper
