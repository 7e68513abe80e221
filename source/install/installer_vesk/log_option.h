// The bootstrapper's "/log" option.
#pragma once

#include <string>

namespace installer {

// The directory of the first "/log" option of a command line: after white
// space, either a quoted text (without its quotes) or the token up to the next
// white space or quote. False when there is none. The option is case-sensitive
// and may follow anything ("x/log y" gives "y").
bool FindLogDirectory(const std::wstring& command_line, std::wstring& directory);

}  // namespace installer
