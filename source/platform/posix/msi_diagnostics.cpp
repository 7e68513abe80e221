#include "platform/msi_diagnostics.h"

#include <atomic>

namespace platform {
namespace {

std::atomic<MsiDiagnosticSink> current_sink{nullptr};

}  // namespace

MsiDiagnosticSink SetMsiDiagnosticSink(MsiDiagnosticSink sink) { return current_sink.exchange(sink); }

void ReportMsiDiagnostic(std::string_view message) {
  if (const MsiDiagnosticSink sink = current_sink.load()) {
    sink(message);
  }
}

}  // namespace platform
