#include "installer_vesk/bridge/trace.h"

#include <cstring>

namespace electron::node_interop {

void WriteTraceRecord(const BridgeTrace& trace, std::string_view text) noexcept {
  if (!trace.tracer) return;
  const std::size_t length = trace.prefix.size() + text.size();
  char* block = nullptr;
  // A declined level, or no memory, leaves the block null.
  if (trace.tracer->GetRecordBuffer(trace.level, &block, length) != ovra::kResultOk || block == nullptr) return;
  std::memcpy(block, trace.prefix.data(), trace.prefix.size());
  if (!text.empty()) std::memcpy(block + trace.prefix.size(), text.data(), text.size());
  trace.tracer->WriteRecord(block, length);
}

}  // namespace electron::node_interop
