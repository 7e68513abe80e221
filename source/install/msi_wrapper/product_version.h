// A Windows Installer product version: the first three parts of a dotted text.
#pragma once

#include <cstdint>
#include <string>

namespace installer::msi_wrapper {

class MsiProductVersion {
 public:
  // Reads up to three dot-separated decimal parts; never fails. A part that is
  // empty, has no leading number, or reads 0 without being exactly "0" ends
  // the parse, leaving it and the later parts 0. A fourth part is ignored; a
  // negative part keeps its unsigned 32-bit form.
  explicit MsiProductVersion(const std::wstring& text);
  MsiProductVersion(const MsiProductVersion&) = default;
  MsiProductVersion& operator=(const MsiProductVersion&) = default;
  virtual ~MsiProductVersion() = default;

  bool operator==(const MsiProductVersion& other) const;
  // Compares major, then minor, then build, as unsigned numbers.
  bool operator<(const MsiProductVersion& other) const;

  std::uint32_t major = 0;
  std::uint32_t minor = 0;
  std::uint32_t build = 0;
};

}  // namespace installer::msi_wrapper
