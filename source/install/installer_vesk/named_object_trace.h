// The platform's refusals of named objects, as trace records.
#pragma once

namespace installer {

// Makes every refusal of a named event or block (on Linux: one that another user
// owns) an installer record at kInstallerTraceLevel, so it is in the log by default.
void TraceNamedObjectRefusals();

}  // namespace installer
