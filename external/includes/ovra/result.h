// Result codes (placeholder until the code tables land).
#pragma once

#include <cstdint>

namespace ovra {
using result_t = std::int32_t;
}
