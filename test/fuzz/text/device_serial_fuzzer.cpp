// The disk-serial path of the machine identifier: a descriptor serial decodes
// to printable text or nothing, the chosen serial is one of the two given
// (the descriptor's perhaps pair-swapped), and any serial hashes to a GUID
// that the identifier's own reader accepts.
#include <cstddef>
#include <cstdint>
#include <string>

#include "machine_id/machine_id.h"

namespace {

bool IsPrintable(const std::string& text) {
  for (unsigned char c : text) {
    if (c < 0x20 || c > 0x7E) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace installer::machine_id;
  const std::string input(reinterpret_cast<const char*>(data), size);
  const std::size_t cut = input.find('\n');
  const std::string descriptor = input.substr(0, cut);
  const std::string ata = cut == std::string::npos ? std::string() : input.substr(cut + 1);

  const std::string decoded = DecodeDeviceSerial(descriptor);
  if (!IsPrintable(decoded)) __builtin_trap();
  if (decoded != descriptor && decoded.size() * 2 != descriptor.size() && !decoded.empty()) __builtin_trap();
  if (IsPrintable(descriptor) && descriptor.size() % 2 == 1 && decoded != descriptor) __builtin_trap();

  const std::string chosen = ChooseDiskSerial(ata, decoded);
  if (chosen != ata && chosen != PairSwapped(decoded)) __builtin_trap();
  if (PairSwapped(PairSwapped(chosen)) != chosen) __builtin_trap();
  IsPlaceholderDiskSerial(chosen);

  const std::string hashed = HashedIdentifierText(chosen);
  if (hashed.size() != 38 || hashed.front() != '{' || hashed.back() != '}') __builtin_trap();
  FormatGuidBytes(ParseGuid(hashed));  // throws, and so fails, on a malformed identifier
  return 0;
}
