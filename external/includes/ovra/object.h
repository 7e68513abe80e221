// The framework's reference-counted object model.
#pragma once

#include <cstdint>

#include "ovra/result.h"

namespace ovra {

// Interface identifier, as passed to QueryInterface.
using iid_t = std::uint32_t;

struct IObject {
  virtual std::int32_t AddRef() = 0;
  virtual std::int32_t Release() = 0;
  virtual result_t QueryInterface(iid_t iid, void** object) = 0;

 protected:
  ~IObject() = default;
};

}  // namespace ovra
