// The product-version reader: never fails, and its order is a strict weak order.
#include <cstddef>
#include <cstdint>

#include "msi_wrapper/product_version.h"
#include "text_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using installer::msi_wrapper::MsiProductVersion;
  const auto lines = fuzz::LinesFromInput(data, size);
  const MsiProductVersion first(lines.front());
  const MsiProductVersion second(lines.back());
  if (first < first) __builtin_trap();
  if (first < second && second < first) __builtin_trap();
  if (first == second && (first < second || second < first)) __builtin_trap();
  return 0;
}
