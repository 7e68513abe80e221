// The bridge's own trace records: what it has to drop. It writes them through
// the tracer the module hands over at registration.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "ovra/object.h"
#include "ovra/tracer.h"

namespace electron::node_interop {

// Where the bridge's records go: through `tracer` (none: nowhere), at `level`,
// each starting with `prefix`.
struct BridgeTrace {
  ovra::objptr_t<ovra::ITracer> tracer;
  std::uint32_t level = 0;
  std::string prefix;
};

// Writes `prefix` and `text` as one record when the tracer accepts the level.
void WriteTraceRecord(const BridgeTrace& trace, std::string_view text) noexcept;

}  // namespace electron::node_interop
