#include "installer_vesk/named_object_trace.h"

#include <string_view>

#include "installer_vesk/trace_record.h"
#include "platform/named_object_diagnostics.h"

namespace installer {
namespace {

void TraceRefusal(std::string_view message) { InstallerRecord(kInstallerTraceLevel) << message; }

}  // namespace

void TraceNamedObjectRefusals() { platform::SetNamedObjectDiagnosticSink(&TraceRefusal); }

}  // namespace installer
