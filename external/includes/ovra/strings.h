// Text conversions between UTF-8, UTF-16 and wchar_t strings.
//
// Windows strings are UTF-16 held in std::wstring. On Linux wchar_t is 32 bits,
// so a std::wstring there holds code points: a surrogate pair becomes one code
// point and a lone surrogate keeps its own value. Every sequence of UTF-16 code
// units therefore survives UTF-16 -> wstring -> UTF-16 unchanged on both systems.
// This header is the only place that converts between these forms.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace ovra {
namespace text_detail {

inline bool IsHighSurrogate(char32_t c) { return c >= 0xD800 && c <= 0xDBFF; }
inline bool IsLowSurrogate(char32_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// Reads one code point from 16- or 32-bit units at position i and advances i.
// A high surrogate followed by a low one forms a pair; any other surrogate is
// returned as its own value.
template <typename Unit>
char32_t NextCodePoint(const Unit* units, std::size_t count, std::size_t& i) {
  char32_t c = static_cast<char32_t>(units[i++]);
  if (IsHighSurrogate(c) && i < count) {
    char32_t low = static_cast<char32_t>(units[i]);
    if (IsLowSurrogate(low)) {
      ++i;
      return 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
    }
  }
  return c;
}

template <typename String>
void AppendUtf16(String& out, char32_t c) {
  using Unit = typename String::value_type;
  if (c >= 0x10000 && c <= 0x10FFFF) {
    c -= 0x10000;
    out.push_back(static_cast<Unit>(0xD800 + (c >> 10)));
    out.push_back(static_cast<Unit>(0xDC00 + (c & 0x3FF)));
  } else {
    out.push_back(static_cast<Unit>(c));
  }
}

inline void AppendWide(std::wstring& out, char32_t c) {
  if constexpr (sizeof(wchar_t) == 2) {
    AppendUtf16(out, c);
  } else {
    out.push_back(static_cast<wchar_t>(c));
  }
}

// Encodes one code point; surrogate values get the plain three-byte form.
inline void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (c >> 18)));
    out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

// Decodes one UTF-8 sequence at position i and advances i; a malformed
// sequence yields U+FFFD and consumes one byte.
inline char32_t NextUtf8CodePoint(std::string_view s, std::size_t& i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char lead = byte(i);
  std::size_t length = 0;
  char32_t c = 0;
  if (lead < 0x80) {
    ++i;
    return lead;
  } else if ((lead & 0xE0) == 0xC0) {
    length = 2, c = lead & 0x1F;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3, c = lead & 0x0F;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4, c = lead & 0x07;
  } else {
    ++i;
    return 0xFFFD;
  }
  if (i + length > s.size()) {
    ++i;
    return 0xFFFD;
  }
  for (std::size_t k = 1; k < length; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) {
      ++i;
      return 0xFFFD;
    }
    c = (c << 6) | (byte(i + k) & 0x3F);
  }
  static const char32_t kMinimum[] = {0, 0, 0x80, 0x800, 0x10000};
  if (c < kMinimum[length] || c > 0x10FFFF) {
    ++i;
    return 0xFFFD;
  }
  i += length;
  return c;
}

}  // namespace text_detail

inline std::wstring WideFromUtf16(const char16_t* units, std::size_t count) {
  std::wstring out;
  out.reserve(count);
  for (std::size_t i = 0; i < count;) {
    text_detail::AppendWide(out, text_detail::NextCodePoint(units, count, i));
  }
  return out;
}

inline std::wstring WideFromUtf16(const std::u16string& s) { return WideFromUtf16(s.data(), s.size()); }

inline std::u16string Utf16FromWide(const std::wstring& s) {
  std::u16string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size();) {
    text_detail::AppendUtf16(out, text_detail::NextCodePoint(s.data(), s.size(), i));
  }
  return out;
}

// Encodes as Utf16FromWide does, straight into a buffer of `capacity` units:
// writes the units that fit and returns the length of the whole text.
inline std::size_t Utf16FromWide(std::wstring_view s, char16_t* out, std::size_t capacity) {
  std::size_t length = 0;
  const auto put = [&](char32_t unit) {
    if (length < capacity) {
      out[length] = static_cast<char16_t>(unit);
    }
    ++length;
  };
  for (std::size_t i = 0; i < s.size();) {
    const char32_t c = text_detail::NextCodePoint(s.data(), s.size(), i);
    if (c >= 0x10000 && c <= 0x10FFFF) {
      put(0xD800 + ((c - 0x10000) >> 10));
      put(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      put(c);
    }
  }
  return length;
}

inline std::string Utf8FromWide(const std::wstring& s) {
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size();) {
    text_detail::AppendUtf8(out, text_detail::NextCodePoint(s.data(), s.size(), i));
  }
  return out;
}

inline std::wstring WideFromUtf8(const std::string& s) {
  std::wstring out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size();) {
    text_detail::AppendWide(out, text_detail::NextUtf8CodePoint(s, i));
  }
  return out;
}

// Decodes UTF-8 as WideFromUtf8 does, straight into a buffer of `capacity`
// units: writes the units that fit and returns the length of the whole text.
inline std::size_t WideFromUtf8(std::string_view s, wchar_t* out, std::size_t capacity) {
  std::size_t length = 0;
  const auto put = [&](char32_t unit) {
    if (length < capacity) {
      out[length] = static_cast<wchar_t>(unit);
    }
    ++length;
  };
  for (std::size_t i = 0; i < s.size();) {
    const char32_t c = text_detail::NextUtf8CodePoint(s, i);
    if (sizeof(wchar_t) == 2 && c >= 0x10000 && c <= 0x10FFFF) {
      put(0xD800 + ((c - 0x10000) >> 10));
      put(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      put(c);
    }
  }
  return length;
}

}  // namespace ovra
