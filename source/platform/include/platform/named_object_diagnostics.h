// Refusals of the named-object services (named_event.h, shared_memory.h).
//
// POSIX: events and blocks are private to their creator's user (mode 0600,
// whatever the umask). An existing object that another user owns is refused and
// treated as absent - its content could be planted (a /log option in the command
// line), and what we would write into it could be read - and each refusal is
// handed to the sink set here, as one line of UTF-8 text. With no sink, refusals
// are dropped. Windows objects get the creator's default security; nothing is
// reported there.
#pragma once

#include <string_view>

namespace platform {

// Receives one message, on whichever thread opened the object. It must not open
// a named object itself.
using NamedObjectDiagnosticSink = void (*)(std::string_view message);

// Replaces the sink and returns the previous one; null drops messages (the default).
NamedObjectDiagnosticSink SetNamedObjectDiagnosticSink(NamedObjectDiagnosticSink sink);

// Hands a message to the current sink; the backend calls this.
void ReportNamedObjectDiagnostic(std::string_view message);

}  // namespace platform
