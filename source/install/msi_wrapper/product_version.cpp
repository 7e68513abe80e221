#include "msi_wrapper/product_version.h"

#include "msi_wrapper/wide_number.h"

namespace installer::msi_wrapper {

MsiProductVersion::MsiProductVersion(const std::wstring& text) {
  std::uint32_t* const parts[] = {&major, &minor, &build};
  std::size_t position = 0;
  for (std::uint32_t* part : parts) {
    if (position >= text.size()) {
      break;
    }
    const std::size_t dot = text.find(L'.', position);
    const std::size_t end = dot == std::wstring::npos ? text.size() : dot;
    const std::wstring part_text = text.substr(position, end - position);
    const std::int32_t number = ParseWideInt(part_text);
    if (number == 0 && part_text != L"0") {
      break;
    }
    *part = static_cast<std::uint32_t>(number);
    position = end + 1;
  }
}

bool MsiProductVersion::operator==(const MsiProductVersion& other) const {
  return major == other.major && minor == other.minor && build == other.build;
}

bool MsiProductVersion::operator<(const MsiProductVersion& other) const {
  if (major != other.major) {
    return major < other.major;
  }
  if (minor != other.minor) {
    return minor < other.minor;
  }
  return build < other.build;
}

}  // namespace installer::msi_wrapper
