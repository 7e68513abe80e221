#include "platform/named_object_diagnostics.h"

#include <atomic>

namespace platform {
namespace {

std::atomic<NamedObjectDiagnosticSink> current_sink{nullptr};

}  // namespace

NamedObjectDiagnosticSink SetNamedObjectDiagnosticSink(NamedObjectDiagnosticSink sink) {
  return current_sink.exchange(sink);
}

void ReportNamedObjectDiagnostic(std::string_view message) {
  if (const NamedObjectDiagnosticSink sink = current_sink.load()) {
    sink(message);
  }
}

}  // namespace platform
