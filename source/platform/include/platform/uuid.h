// New universally unique identifiers. Windows: UuidCreate (a UUID that is unique
// on this computer only, RPC_S_UUID_LOCAL_ONLY, counts as made). POSIX: libuuid.
#pragma once

#include <cstdint>

#include "platform/error_code.h"

namespace platform {

// The fields of a Windows GUID; the text form prints them in this order.
struct Uuid {
  std::uint32_t data1 = 0;
  std::uint16_t data2 = 0;
  std::uint16_t data3 = 0;
  std::uint8_t data4[8] = {};
};

class UuidSource {
 public:
  virtual ~UuidSource() = default;
  // 0, or the error of the system's generator.
  virtual ErrorCode Create(Uuid& uuid) = 0;
};

// The system's own.
UuidSource& SystemUuids();

}  // namespace platform
