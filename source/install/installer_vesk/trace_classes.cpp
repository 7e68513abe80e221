#include "installer_vesk/trace_classes.h"

#include "installer_vesk/trace_record.h"
#include "installer_vesk/tracer.h"

namespace installer {

std::int32_t TraceHelper::trace(std::wstring text, std::uint32_t level) {
  TraceRecord(level) << text;
  return 0;
}

std::int32_t DebugConfiguration::isDebug(bool& debug) {
  debug = false;
  return 0;
}

std::int32_t TraceController::turnOnTraces() { return GetTracer()->OpenInstallerLog(); }

std::int32_t TraceController::turnOffTraces() { return GetTracer()->CloseInstallerLog(); }

std::int32_t TraceController::setTraceLevel(std::uint32_t level) {
  GetTracer()->SetLevel(level);
  return 0;
}

std::int32_t TraceController::getTraceState(bool& open, std::uint32_t& level) {
  const auto tracer = GetTracer();
  open = tracer->IsLogOpen();
  level = tracer->GetLevel();
  return 0;
}

}  // namespace installer
