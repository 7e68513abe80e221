// The kernel objects through which the bootstrapper and the user interface meet,
// and the layout of the command-line block. Both sides use these definitions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "ovra/strings.h"

namespace installer {

// Set by the bootstrapper once the package file is complete.
inline constexpr wchar_t kMsiReadyEventName[] = L"Global\\Event_QARN_4E1819D9-40EF-41F3-B966-DF8AB5970DE8";
// Set by the user interface to have the splash screen hidden.
inline constexpr wchar_t kSplashEventName[] = L"Global\\Event_QARN_1F44AA7E-6377-4938-9599-56E42317606B";
// The bootstrapper's command line: UTF-16LE text ending in a 0 character.
inline constexpr wchar_t kCommandLineBlockName[] = L"Local\\6AC4E4AA-216B-4F3D-AAA0-F9EC9607953A";
inline constexpr std::size_t kCommandLineBlockSize = 2048;
// Code units of text the block holds before its terminating 0.
inline constexpr std::size_t kCommandLineMaxUnits = kCommandLineBlockSize / 2 - 1;

// The text at the start of a block of `size` bytes, up to its first 0 unit and never
// past the block.
inline std::wstring ReadCommandLineText(const void* block, std::size_t size) {
  const auto* bytes = static_cast<const unsigned char*>(block);
  std::u16string units;
  for (std::size_t offset = 0; offset + 1 < size; offset += 2) {
    const auto unit = static_cast<char16_t>(bytes[offset] | (bytes[offset + 1] << 8));
    if (unit == 0) break;
    units.push_back(unit);
  }
  return ovra::WideFromUtf16(units);
}

// Writes `text` and a 0 unit at the start of the block; what does not fit is cut at
// a whole character. False when the text was cut.
inline bool WriteCommandLineText(void* block, std::size_t size, const std::wstring& text) {
  if (size < 2) return text.empty();
  std::u16string units = ovra::Utf16FromWide(text);
  const std::size_t room = size / 2 - 1;
  const bool fits = units.size() <= room;
  if (!fits) {
    units.resize(room);
    // Never leave half a surrogate pair.
    if (!units.empty() && units.back() >= 0xD800 && units.back() <= 0xDBFF) units.pop_back();
  }
  auto* bytes = static_cast<unsigned char*>(block);
  std::size_t offset = 0;
  for (const char16_t unit : units) {
    bytes[offset++] = static_cast<unsigned char>(unit & 0xFF);
    bytes[offset++] = static_cast<unsigned char>(unit >> 8);
  }
  bytes[offset] = 0;
  bytes[offset + 1] = 0;
  return fits;
}

}  // namespace installer
