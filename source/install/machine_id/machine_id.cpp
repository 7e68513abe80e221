#include "machine_id/machine_id.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>

#include "ovra/exception.h"
#include "platform/md5.h"
#include "platform/security_token.h"

namespace installer::machine_id {
namespace {

constexpr char kSourcePath[] = "machine_id/machine_id";
constexpr char kHexDigits[] = "0123456789ABCDEF";

constexpr std::string_view kPlaceholderDiskSerials[] = {"00000000000000000001", "                    ", "Volume0"};
constexpr std::string_view kPlaceholderBoardTexts[] = {"None", "VAION/A"};

bool IsPrintable(unsigned char c) { return c >= 0x20 && c <= 0x7E; }

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The shorter text occurs inside the longer one; texts of one length must be equal.
bool SerialsAgree(const std::string& a, const std::string& b) {
  const bool a_shorter = a.size() < b.size();
  return (a_shorter ? b : a).find(a_shorter ? a : b) != std::string::npos;
}

// The random fallback after its brace and first four digits, which the marker replaces.
std::string AfterMarker(const std::string& fallback) {
  if (fallback.size() < 5) throw std::out_of_range("invalid string position");
  return fallback.substr(5);
}

std::string IdentifierText(const Sources& sources, const std::string& fallback) {
  if (IsVirtualMachine(sources.probes)) return "{F2F2" + AfterMarker(fallback);

  // The hardware is read with the process's identity, not the thread's impersonated one.
  platform::ImpersonationPause pause;
  if (const platform::ErrorCode error = pause.Suspend()) {
    throw ovra::CheckResultFailedException(kSourcePath, __LINE__,
                                           ovra::ResultCodeFromWin32Error(static_cast<std::int32_t>(error)));
  }
  const platform::DriveSerials disk = sources.drive.ReadSystemDrive();
  std::string serial = ChooseDiskSerial(disk.ata, DecodeDeviceSerial(disk.descriptor));
  if (IsPlaceholderDiskSerial(serial)) serial.clear();
  if (serial.empty()) {
    std::string board;
    if (sources.board.ReadProductAndSerial(board) && !IsPlaceholderBoardText(board)) serial = board;
  }
  return serial.empty() ? "{F1F1" + AfterMarker(fallback) : HashedIdentifierText(serial);
}

}  // namespace

Sources SystemSources() {
  return Sources{platform::SystemDriveSerials(), platform::SystemBaseBoard(), platform::SystemVirtualMachineProbes(),
                 platform::SystemUuids()};
}

std::string GenerateMachineId(const Sources& sources) {
  platform::Uuid uuid;
  const std::string fallback = sources.uuids.Create(uuid) == platform::kErrorSuccess ? FormatUuid(uuid) : "";
  std::string text = IdentifierText(sources, fallback);
  OVRA_CHECK(!text.empty());
  text.erase(std::remove_if(text.begin(), text.end(), [](char c) { return c == '{' || c == '}'; }), text.end());
  return FormatGuidBytes(ParseGuid(text));
}

std::string GenerateMachineId() { return GenerateMachineId(SystemSources()); }

bool IsVirtualMachine(platform::VirtualMachineProbes& probes) {
  return probes.VirtualPcGuestCall() || probes.VmwareBackdoor() || probes.VirtualBoxDevice() ||
         probes.HypervisorBit();
}

std::string DecodeDeviceSerial(const std::string& text) {
  if (text.size() % 2 == 0) {
    std::string decoded;
    for (std::size_t i = 0; i < text.size(); i += 2) {
      const int high = HexValue(text[i]);
      const int low = HexValue(text[i + 1]);
      if (high < 0 || low < 0 || !IsPrintable(static_cast<unsigned char>(high * 16 + low))) break;
      decoded += static_cast<char>(high * 16 + low);
    }
    if (decoded.size() * 2 == text.size()) return decoded;
  }
  const bool printable =
      std::all_of(text.begin(), text.end(), [](char c) { return IsPrintable(static_cast<unsigned char>(c)); });
  return printable ? text : std::string();
}

std::string PairSwapped(std::string text) {
  for (std::size_t i = 0; i + 1 < text.size(); i += 2) std::swap(text[i], text[i + 1]);
  return text;
}

std::string ChooseDiskSerial(const std::string& ata, const std::string& descriptor) {
  if (ata.empty()) return PairSwapped(descriptor);
  if (descriptor.empty() || SerialsAgree(ata, descriptor)) return ata;
  std::string swapped = PairSwapped(descriptor);
  return SerialsAgree(ata, swapped) ? ata : swapped;
}

bool IsPlaceholderDiskSerial(const std::string& serial) {
  if (serial.empty()) return false;
  const std::string swapped = PairSwapped(serial);
  return std::any_of(std::begin(kPlaceholderDiskSerials), std::end(kPlaceholderDiskSerials),
                     [&](std::string_view placeholder) { return serial == placeholder || swapped == placeholder; });
}

bool IsPlaceholderBoardText(const std::string& text) {
  return std::find(std::begin(kPlaceholderBoardTexts), std::end(kPlaceholderBoardTexts), text) !=
         std::end(kPlaceholderBoardTexts);
}

std::string HashedIdentifierText(const std::string& serial, std::string_view product) {
  std::string input;
  input.reserve(serial.size() * 2 + product.size());
  for (const char c : serial) {
    input += c;  // each single-byte character becomes one UTF-16LE unit
    input += '\0';
  }
  input += product;
  platform::Md5Digest digest;
  if (const platform::ErrorCode error = platform::ComputeMd5(input.data(), input.size(), digest)) {
    throw ovra::CheckResultFailedException(kSourcePath, __LINE__,
                                           ovra::ResultCodeFromWin32Error(static_cast<std::int32_t>(error)));
  }
  std::string hex;
  for (const std::uint8_t byte : digest) {
    hex += kHexDigits[byte >> 4];
    hex += kHexDigits[byte & 0xF];
  }
  // Digits 0 to 3 give way to the marker.
  return "{FFFF" + hex.substr(4, 4) + "-" + hex.substr(8, 4) + "-" + hex.substr(12, 4) + "-" + hex.substr(16, 4) +
         "-" + hex.substr(20, 12) + "}";
}

std::string FormatUuid(const platform::Uuid& uuid) {
  char text[39];
  std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                static_cast<unsigned>(uuid.data1), uuid.data2, uuid.data3, uuid.data4[0], uuid.data4[1],
                uuid.data4[2], uuid.data4[3], uuid.data4[4], uuid.data4[5], uuid.data4[6], uuid.data4[7]);
  return text;
}

GuidBytes ParseGuid(std::string_view text) {
  if (text.size() >= 2 && text.front() == '{' && text.back() == '}') text = text.substr(1, text.size() - 2);
  constexpr std::size_t kLength = 36;
  const auto is_dash_position = [](std::size_t i) { return i == 8 || i == 13 || i == 18 || i == 23; };
  if (text.size() != kLength) throw std::runtime_error("Invalid GUID.");
  GuidBytes bytes{};
  std::size_t digits = 0;
  for (std::size_t i = 0; i < kLength; ++i) {
    if (is_dash_position(i)) {
      if (text[i] != '-') throw std::runtime_error("Invalid GUID.");
      continue;
    }
    const int value = HexValue(text[i]);
    if (value < 0) throw std::runtime_error("Invalid GUID.");
    bytes[digits / 2] = static_cast<std::uint8_t>(bytes[digits / 2] << 4 | value);
    ++digits;
  }
  return bytes;
}

std::string FormatGuidBytes(const GuidBytes& bytes) {
  std::string text;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) text += '-';
    text += kHexDigits[bytes[i] >> 4];
    text += kHexDigits[bytes[i] & 0xF];
  }
  return text;
}

}  // namespace installer::machine_id
