// The Windows Installer library's diagnostic messages, as trace records.
#pragma once

namespace installer {

// Makes every diagnostic message of the Windows Installer library (on Linux,
// libmsi's warnings) an installer record at kDetailTraceLevel: in the log only
// when the trace level is raised to it, never on the console.
void TraceMsiDiagnostics();

}  // namespace installer
