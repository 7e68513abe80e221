#include "msi_wrapper/setup_progress.h"

#include <algorithm>
#include <cwchar>
#include <cwctype>

namespace installer::msi_wrapper {
namespace {

constexpr UINT kTypeMask = 0xFF000000u;

std::int32_t Clamp(std::int64_t value, std::int32_t low, std::int32_t high) {
  if (value < low) {
    return low;
  }
  return static_cast<std::int32_t>(std::min<std::int64_t>(value, high));
}

// The leading integer of text[begin, end), 0 when there is none; never throws.
std::int32_t IntegerAt(const std::wstring& text, std::size_t begin, std::size_t end) {
  if (begin >= end) {
    return 0;
  }
  const std::wstring part = text.substr(begin, end - begin);
  const long long value = std::wcstoll(part.c_str(), nullptr, 10);
  return static_cast<std::int32_t>(std::clamp<long long>(value, INT32_MIN, INT32_MAX));
}

void ApplyProgressFields(ProgressState& s) {
  switch (s.field1) {
    case 0: {  // reset
      const bool continues_script = s.scriptPhase;
      s.total = s.field2;
      s.forward = s.field3 == 0;
      s.minimum = 0;
      s.maximum = s.field2;
      const std::int32_t start = s.forward ? 0 : s.field2;
      s.position = Clamp(continues_script ? s.field2 : start, 0, s.field2);
      s.reported = 0;
      s.scriptPhase = s.field4 == 1;
      break;
    }
    case 1:  // action info
      if (s.field3 != 0) {
        // Negated in 64 bits: -INT32_MIN does not fit (it steps by INT32_MAX).
        s.step = s.forward ? s.field2 : Clamp(-static_cast<std::int64_t>(s.field2), INT32_MIN, INT32_MAX);
        s.stepOnActionData = true;
      } else {
        s.stepOnActionData = false;
      }
      break;
    case 2:  // report
      if (s.total != 0) {
        s.reported = Clamp(static_cast<std::int64_t>(s.reported) + s.field2, INT32_MIN, INT32_MAX);
        // A backward range counts down from its end.
        const std::int64_t position = s.forward ? s.reported : static_cast<std::int64_t>(s.maximum) - s.reported;
        s.position = Clamp(position, s.minimum, s.maximum);
      }
      break;
    default:  // 3, addition: the total stays
      break;
  }
}

}  // namespace

bool ParseProgressMessage(const std::wstring& text, ProgressState& s) {
  if (text.empty()) {
    return false;
  }
  const std::size_t length = text.size();
  std::size_t item = 0;
  while (item < length) {
    // An item: a field number, two separator characters, the value.
    const wchar_t number = text[item];
    const std::size_t value = item + 3;
    if (number == L'1') {
      if (value >= length || !std::iswdigit(text[value])) {
        return false;
      }
      s.field1 = text[value] - L'0';
      item = value + 2;
      continue;
    }
    if (number < L'2' || number > L'4') {
      return false;
    }
    std::size_t end = value < length ? text.find(L' ', value) : length;
    if (end == std::wstring::npos) {
      end = length;
    }
    const std::int32_t integer = IntegerAt(text, value, end);
    if (number == L'2') {
      s.field2 = integer;
      if (s.field1 == 2 || s.field1 == 3) {
        return true;
      }
    } else if (number == L'3') {
      s.field3 = integer;
      if (s.field1 == 1) {
        return true;
      }
    } else {
      s.field4 = integer;
      return true;
    }
    item = end + 1;
  }
  return true;
}

bool ApplyInstallMessage(ProgressState& s, UINT type, const wchar_t* text) {
  if (!text) {
    return false;
  }
  switch (type & kTypeMask) {
    case INSTALLMESSAGE_ERROR:
    case INSTALLMESSAGE_WARNING:
    case INSTALLMESSAGE_OUTOFDISKSPACE:
    case INSTALLMESSAGE_COMMONDATA:
      return true;
    case INSTALLMESSAGE_ACTIONSTART:
      s.stepOnActionData = false;
      s.actionText = text;
      return true;
    case INSTALLMESSAGE_ACTIONDATA:
      if (s.total != 0 && s.stepOnActionData) {
        s.position = Clamp(static_cast<std::int64_t>(s.position) + s.step, s.minimum, s.maximum);
      }
      return true;
    case INSTALLMESSAGE_PROGRESS:
      if (ParseProgressMessage(text, s)) {
        ApplyProgressFields(s);
      }
      return true;
    default:
      return false;
  }
}

std::int32_t ProgressPercentage(const ProgressState& s) {
  const std::int64_t range = static_cast<std::int64_t>(s.maximum) - s.minimum;
  if (range <= 0) {
    return 0;
  }
  const float percent = static_cast<float>(static_cast<std::int64_t>(s.position) - s.minimum) * 100.0f /
                        static_cast<float>(range);
  return static_cast<std::int32_t>(percent);
}

}  // namespace installer::msi_wrapper
