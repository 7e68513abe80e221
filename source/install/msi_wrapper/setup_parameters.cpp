#include "msi_wrapper/setup_parameters.h"

#include <stdexcept>

namespace installer::msi_wrapper {

std::vector<SetupParameter> ParseSetupParameters(const std::wstring& text) {
  std::vector<SetupParameter> parameters;
  std::size_t characters = 0;  // in all names and values so far
  for (std::size_t equals = text.find(L'='); equals != std::wstring::npos; equals = text.find(L'=', equals + 1)) {
    const std::size_t space = text.rfind(L' ', equals);
    const std::size_t name_start = space == std::wstring::npos ? 0 : space + 1;
    if (name_start == equals) {
      continue;
    }
    if (equals + 1 >= text.size()) {
      throw std::out_of_range("invalid string position");
    }
    std::size_t value_start = equals + 1;
    std::size_t value_length = 0;
    if (text[equals + 1] == L'"') {
      value_start = equals + 2;
      const std::size_t close = text.find(L'"', value_start);
      value_length = close == std::wstring::npos ? 0 : close - value_start;
    } else {
      const std::size_t end = text.find(L' ', value_start);
      value_length = (end == std::wstring::npos ? text.size() : end) - value_start;
    }
    characters += equals - name_start + value_length;
    if (characters > kMaxSetupParameterCharacters) {
      throw std::length_error("setup parameters too long");
    }
    parameters.emplace_back(text.substr(name_start, equals - name_start), text.substr(value_start, value_length));
  }
  return parameters;
}

std::wstring FormatSetupParameter(const SetupParameter& parameter) {
  return parameter.name + L"=\"" + parameter.value + L"\"";
}

std::wstring FormatCommandLine(const std::vector<SetupParameter>& parameters) {
  std::wstring line;
  for (const SetupParameter& parameter : parameters) {
    line += L' ';
    line += FormatSetupParameter(parameter);
  }
  return line;
}

}  // namespace installer::msi_wrapper
