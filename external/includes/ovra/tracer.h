// The tracer interface every native writer uses, normally through TraceRecord.
#pragma once

#include <cstddef>
#include <cstdint>

#include "ovra/object.h"

namespace ovra {

struct ITracer : IObject {
  // Reallocates *buffer (a malloc'ed block, or null) to `size` bytes when a record
  // of `level` is accepted; sets *buffer to null when it is not.
  virtual result_t GetRecordBuffer(std::uint32_t level, char** buffer, std::size_t size) = 0;
  // Takes ownership of `buffer` (may be null) and writes `length` bytes of it.
  virtual result_t WriteRecord(char* buffer, std::size_t length) = 0;

 protected:
  ~ITracer() = default;
};

}  // namespace ovra
