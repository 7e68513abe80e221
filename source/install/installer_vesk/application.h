// "application": the user interface's start and end.
#pragma once

#include <string>

namespace installer {

class Application {
 public:
  // Takes the trace-log directory from the bootstrapper's /log option, names
  // both logs in it (FindLogDirectory, Tracer::SetLogDirectory) and opens the
  // installer log; then traces "Application run". Always true. Throws when the
  // command-line block cannot be created or mapped.
  bool run();
  // Releases the process-wide setup manager and package object (each goes
  // when its last user lets it go) and traces "Application join". Always true.
  bool join();
};

// The directory of the first "/log" option of a command line: after white
// space, either a quoted text (without its quotes) or the token up to the next
// white space or quote. False when there is none. The option is case-sensitive
// and may follow anything ("x/log y" gives "y").
bool FindLogDirectory(const std::wstring& command_line, std::wstring& directory);

}  // namespace installer
