#include "platform/local_time.h"

namespace platform {

std::tm LocalTime(std::time_t when) {
  std::tm result{};
  localtime_s(&result, &when);
  return result;
}

}  // namespace platform
