// Small text helpers of the engine: GUIDs and product versions.
#pragma once

#include <array>
#include <cwctype>
#include <string>

namespace linux_msi {

inline std::wstring AsciiUpper(std::wstring text) {
  for (wchar_t& c : text) {
    if (c >= L'a' && c <= L'z') {
      c = static_cast<wchar_t>(c - L'a' + L'A');
    }
  }
  return text;
}

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", hexadecimal digits in either case.
inline bool IsGuid(const wchar_t* text) {
  if (!text) {
    return false;
  }
  static const char pattern[] = "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}";
  for (std::size_t i = 0; i < sizeof pattern - 1; ++i) {
    const wchar_t c = text[i];
    if (pattern[i] == 'X' ? !std::iswxdigit(c) || c > 0x7F : c != static_cast<wchar_t>(pattern[i])) {
      return false;
    }
  }
  return text[sizeof pattern - 1] == L'\0';
}

// The first three fields of a dotted product version; missing fields are 0.
inline std::array<unsigned long, 3> VersionFields(const std::wstring& version) {
  std::array<unsigned long, 3> fields{};
  std::size_t start = 0;
  for (auto& field : fields) {
    if (start >= version.size()) {
      break;
    }
    field = std::wcstoul(version.c_str() + start, nullptr, 10);
    const std::size_t dot = version.find(L'.', start);
    start = dot == std::wstring::npos ? version.size() : dot + 1;
  }
  return fields;
}

}  // namespace linux_msi
