// Local time of day, thread-safe.
#pragma once

#include <ctime>

namespace platform {

// The broken-down local time of `when`.
std::tm LocalTime(std::time_t when);

}  // namespace platform
