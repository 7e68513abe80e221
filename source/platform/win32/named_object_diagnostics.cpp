#include "platform/named_object_diagnostics.h"

namespace platform {

// Windows objects are never refused: nothing is reported through this seam.
NamedObjectDiagnosticSink SetNamedObjectDiagnosticSink(NamedObjectDiagnosticSink) { return nullptr; }

void ReportNamedObjectDiagnostic(std::string_view) {}

}  // namespace platform
