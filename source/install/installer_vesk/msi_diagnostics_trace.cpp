#include "installer_vesk/msi_diagnostics_trace.h"

#include <string_view>

#include "installer_vesk/trace_record.h"
#include "platform/msi_diagnostics.h"

namespace installer {
namespace {

void TraceDiagnostic(std::string_view message) { InstallerRecord(kDetailTraceLevel) << message; }

}  // namespace

void TraceMsiDiagnostics() { platform::SetMsiDiagnosticSink(&TraceDiagnostic); }

}  // namespace installer
