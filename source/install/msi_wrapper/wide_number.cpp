#include "msi_wrapper/wide_number.h"

#include <limits>

namespace installer::msi_wrapper {

std::int32_t ParseWideInt(const std::wstring& text) {
  constexpr std::int64_t kMax = std::numeric_limits<std::int32_t>::max();
  constexpr std::int64_t kMin = std::numeric_limits<std::int32_t>::min();
  std::size_t i = 0;
  while (i < text.size() && (text[i] == L' ' || (text[i] >= L'\t' && text[i] <= L'\r'))) {
    ++i;
  }
  bool negative = false;
  if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) {
    negative = text[i] == L'-';
    ++i;
  }
  std::int64_t value = 0;
  for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i) {
    if (value <= kMax + 1) {
      value = value * 10 + (text[i] - L'0');
    }
  }
  if (negative) {
    value = -value;
  }
  return static_cast<std::int32_t>(value > kMax ? kMax : value < kMin ? kMin : value);
}

}  // namespace installer::msi_wrapper
