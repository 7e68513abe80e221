#include "installer_vesk/log_option.h"

#include <regex>

namespace installer {

// The command-line block holds at most kCommandLineMaxUnits units, well within
// what std::regex's recursive matcher handles.
bool FindLogDirectory(const std::wstring& command_line, std::wstring& directory) {
  static const std::wregex pattern(LR"re(\/log\s+("([^"]+)"|([^"\s]+)))re", std::regex::ECMAScript);
  std::wsmatch match;
  if (!std::regex_search(command_line, match, pattern)) {
    return false;
  }
  directory = match[2].matched ? match[2].str() : match[3].str();
  return true;
}

}  // namespace installer
