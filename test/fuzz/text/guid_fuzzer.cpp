// The GUID reader: any text is 16 bytes or "Invalid GUID.", and what it reads
// prints back as the text it came from (upper case, without braces).
#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

#include "machine_id/machine_id.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace installer::machine_id;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  GuidBytes bytes;
  try {
    bytes = ParseGuid(text);
  } catch (const std::runtime_error& error) {
    if (std::string_view(error.what()) != "Invalid GUID.") __builtin_trap();
    return 0;
  }
  std::string expected(text.size() == 38 ? text.substr(1, 36) : text);
  std::transform(expected.begin(), expected.end(), expected.begin(),
                 [](char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); });
  if (FormatGuidBytes(bytes) != expected) __builtin_trap();
  return 0;
}
