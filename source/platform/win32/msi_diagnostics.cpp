#include "platform/msi_diagnostics.h"

namespace platform {

// msi.dll reports nothing through this seam.
MsiDiagnosticSink SetMsiDiagnosticSink(MsiDiagnosticSink) { return nullptr; }

void ReportMsiDiagnostic(std::string_view) {}

}  // namespace platform
