// Decimal text to number, as the standard wide-string to int conversion reads it.
#pragma once

#include <cstdint>
#include <string>

namespace installer::msi_wrapper {

// Skips leading white space, takes an optional sign and the decimal digits that
// follow; stops at the first other character. 0 when there are no digits;
// values beyond the 32-bit range are clamped to it.
std::int32_t ParseWideInt(const std::wstring& text);

}  // namespace installer::msi_wrapper
