// The machine identifier: a GUID-shaped text derived from a hardware serial number of
// this computer, the same on every run. Its first four digits tell where it came from:
//   FFFF  an MD5 hash of a disk or base board serial (stable);
//   F1F1  random: no usable serial was found;
//   F2F2  random: the computer is a virtual machine.
// Nothing is cached: every call reads the hardware again, and F1F1 and F2F2
// identifiers differ on every call.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/base_board.h"
#include "platform/drive_serials.h"
#include "platform/uuid.h"
#include "platform/vm_probes.h"

namespace installer::machine_id {

// Mixed into the hash after the serial: the product's display name, single-byte, no terminator.
inline constexpr std::string_view kProductText = "Orvanto Integrated Desktop Suite Version 10";

// Where the identifier's facts come from; tests give their own.
struct Sources {
  platform::DriveSerialSource& drive;
  platform::BaseBoardSource& board;
  platform::VirtualMachineProbes& probes;
  platform::UuidSource& uuids;
};

Sources SystemSources();

// The identifier: 36 upper-case hexadecimal digits grouped 8-4-4-4-12. Throws
// ovra::CheckResultFailedException when the thread's token cannot be read,
// std::out_of_range ("invalid string position") when a random identifier is needed
// and no UUID could be made.
std::string GenerateMachineId(const Sources& sources);
std::string GenerateMachineId();

// The parts, in the order they are used.

// The probes in order (Virtual PC, VMware, VirtualBox, hypervisor bit) up to the first yes.
bool IsVirtualMachine(platform::VirtualMachineProbes& probes);

// A serial given as hexadecimal pairs that each decode to a printable ASCII character
// is decoded ("5744" -> "WD"); otherwise a printable text is kept as it is, and
// anything else gives an empty serial.
std::string DecodeDeviceSerial(const std::string& text);

// Characters 1 and 2 exchanged, 3 and 4, and so on; an odd last one stays.
std::string PairSwapped(std::string text);

// The disk serial from the ATA serial and the decoded descriptor serial, which some
// drivers report with each pair of characters exchanged.
std::string ChooseDiskSerial(const std::string& ata, const std::string& descriptor);

// Serials that many disks and boards report and that identify nothing.
bool IsPlaceholderDiskSerial(const std::string& serial);  // as given or pair-swapped
bool IsPlaceholderBoardText(const std::string& text);

// "{FFFF" and digits 4 to 31 of MD5(serial widened to UTF-16LE, then `product`),
// grouped as a GUID, with braces.
std::string HashedIdentifierText(const std::string& serial, std::string_view product = kProductText);

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", upper case.
std::string FormatUuid(const platform::Uuid& uuid);

// 16 bytes in text order from five groups of 8, 4, 4, 4 and 12 hexadecimal digits
// separated by '-', optionally in one pair of braces. Throws std::runtime_error
// "Invalid GUID." for anything else.
using GuidBytes = std::array<std::uint8_t, 16>;
GuidBytes ParseGuid(std::string_view text);
// The 16 bytes as 36 upper-case characters grouped 8-4-4-4-12.
std::string FormatGuidBytes(const GuidBytes& bytes);

}  // namespace installer::machine_id
