#include "msi_wrapper/setup_parameters.h"

#include <stdexcept>

namespace installer::msi_wrapper {

std::vector<SetupParameter> ParseSetupParameters(const std::wstring& text) {
  std::vector<SetupParameter> parameters;
  for (std::size_t equals = text.find(L'='); equals != std::wstring::npos; equals = text.find(L'=', equals + 1)) {
    const std::size_t space = text.rfind(L' ', equals);
    const std::size_t name_start = space == std::wstring::npos ? 0 : space + 1;
    if (name_start == equals) {
      continue;
    }
    if (equals + 1 >= text.size()) {
      throw std::out_of_range("invalid string position");
    }
    std::wstring value;
    if (text[equals + 1] == L'"') {
      const std::size_t close = text.find(L'"', equals + 2);
      if (close != std::wstring::npos) {
        value = text.substr(equals + 2, close - (equals + 2));
      }
    } else {
      const std::size_t end = text.find(L' ', equals + 1);
      value = text.substr(equals + 1, end == std::wstring::npos ? std::wstring::npos : end - (equals + 1));
    }
    parameters.emplace_back(text.substr(name_start, equals - name_start), std::move(value));
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
