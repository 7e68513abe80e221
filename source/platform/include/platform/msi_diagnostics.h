// Diagnostic messages of the Windows Installer library, kept off the console.
//
// On Linux the msi.dll stand-in's libmsi reports what it meets (a query naming
// a missing table, a package that is not a patch) through GLib's log, which
// would print it on the host's stderr. The stand-in hands each message to the
// sink set here instead; with no sink, messages are dropped. On Windows msi.dll
// keeps its own log and nothing arrives here.
#pragma once

#include <string_view>

namespace platform {

// Receives one message as UTF-8 text, on whichever thread the library runs,
// possibly on several threads at once. It runs inside an installer call, so it
// must not call the Windows Installer API itself.
using MsiDiagnosticSink = void (*)(std::string_view message);

// Replaces the sink and returns the previous one; null drops messages (the default).
MsiDiagnosticSink SetMsiDiagnosticSink(MsiDiagnosticSink sink);

// Hands a message to the current sink; the library's backend calls this.
void ReportMsiDiagnostic(std::string_view message);

}  // namespace platform
