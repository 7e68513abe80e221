#include "platform/uuid.h"

#include <uuid/uuid.h>

namespace platform {
namespace {

class LibuuidSource final : public UuidSource {
 public:
  ErrorCode Create(Uuid& uuid) override {
    uuid_t bytes;
    uuid_generate(bytes);
    // libuuid's bytes are in text order: the first three fields are big-endian.
    uuid.data1 = static_cast<std::uint32_t>(bytes[0]) << 24 | static_cast<std::uint32_t>(bytes[1]) << 16 |
                 static_cast<std::uint32_t>(bytes[2]) << 8 | bytes[3];
    uuid.data2 = static_cast<std::uint16_t>(bytes[4] << 8 | bytes[5]);
    uuid.data3 = static_cast<std::uint16_t>(bytes[6] << 8 | bytes[7]);
    for (int i = 0; i < 8; ++i) uuid.data4[i] = bytes[8 + i];
    return kErrorSuccess;
  }
};

}  // namespace

UuidSource& SystemUuids() {
  static LibuuidSource source;
  return source;
}

}  // namespace platform
