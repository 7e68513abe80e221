// Native classes behind the script's trace objects; all of them work on GetTracer().
#pragma once

#include <cstdint>
#include <string>

namespace installer {

// "trace_helper": the script's own records.
class TraceHelper {
 public:
  // Writes `text` as one record of `level`, without tag; always 0.
  std::int32_t trace(std::wstring text, std::uint32_t level);
};

// "debug_configuration".
class DebugConfiguration {
 public:
  // The installer never runs in a debug configuration: stores false; always 0.
  std::int32_t isDebug(bool& debug);
};

// "tracer_controller": the installer log and the trace level.
class TraceController {
 public:
  // 0 when the log is open afterwards, else kResultUnspecified (0x8000004B).
  std::int32_t turnOnTraces();
  // Always 0.
  std::int32_t turnOffTraces();
  // Always 0.
  std::int32_t setTraceLevel(std::uint32_t level);
  // Whether the log is open, and the level; always 0.
  std::int32_t getTraceState(bool& open, std::uint32_t& level);
};

}  // namespace installer
