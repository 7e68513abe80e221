// The fuzz input as text: its bytes read as UTF-8. Malformed sequences become
// U+FFFD; encoded surrogates come through as lone surrogates.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "ovra/strings.h"

namespace fuzz {

inline std::wstring TextFromInput(const std::uint8_t* data, std::size_t size) {
  return ovra::WideFromUtf8(std::string(reinterpret_cast<const char*>(data), size));
}

// The text cut at each newline: several inputs from one.
inline std::vector<std::wstring> LinesFromInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::wstring> lines{std::wstring()};
  for (wchar_t c : TextFromInput(data, size)) {
    if (c == L'\n') {
      lines.emplace_back();
    } else {
      lines.back() += c;
    }
  }
  return lines;
}

}  // namespace fuzz
