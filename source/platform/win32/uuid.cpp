#include "platform/uuid.h"

#include <windows.h>
#include <rpc.h>

namespace platform {
namespace {

class RpcUuidSource final : public UuidSource {
 public:
  ErrorCode Create(Uuid& uuid) override {
    UUID created{};
    const RPC_STATUS status = UuidCreate(&created);
    // A UUID unique to this computer only is still new.
    if (status != RPC_S_OK && status != RPC_S_UUID_LOCAL_ONLY) return static_cast<ErrorCode>(status);
    uuid.data1 = created.Data1;
    uuid.data2 = created.Data2;
    uuid.data3 = created.Data3;
    for (int i = 0; i < 8; ++i) uuid.data4[i] = created.Data4[i];
    return kErrorSuccess;
  }
};

}  // namespace

UuidSource& SystemUuids() {
  static RpcUuidSource source;
  return source;
}

}  // namespace platform
