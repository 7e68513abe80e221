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

}  // namespace installer
