// The "/log" option reader over any command line the shared block can carry:
// what it finds is a non-empty directory taken from after an option, and it
// misses no plain "/log <token>".
#include <cstddef>
#include <cstdint>
#include <string>

#include "installer_vesk/bootstrapper_objects.h"
#include "installer_vesk/log_option.h"
#include "text_input.h"

namespace {

bool IsAsciiSpace(wchar_t c) { return c == L' ' || (c >= L'\t' && c <= L'\r'); }
bool IsPlainTokenStart(wchar_t c) { return c > L' ' && c < 0x7F && c != L'"'; }

// "/log", blanks and a character that can only start a bare token.
bool HasPlainOption(const std::wstring& text) {
  for (std::size_t at = text.find(L"/log"); at != std::wstring::npos; at = text.find(L"/log", at + 1)) {
    std::size_t next = at + 4;
    while (next < text.size() && (text[next] == L' ' || text[next] == L'\t')) ++next;
    if (next > at + 4 && next < text.size() && IsPlainTokenStart(text[next])) return true;
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::wstring command_line = fuzz::TextFromInput(data, size);
  if (command_line.size() > installer::kCommandLineMaxUnits) command_line.resize(installer::kCommandLineMaxUnits);
  std::wstring directory;
  if (!installer::FindLogDirectory(command_line, directory)) {
    if (HasPlainOption(command_line)) __builtin_trap();
    return 0;
  }
  if (directory.empty() || directory.find(L'"') != std::wstring::npos) __builtin_trap();
  if (command_line.find(L"/log") == std::wstring::npos) __builtin_trap();
  const bool quoted = command_line.find(L'"' + directory + L'"') != std::wstring::npos;
  const bool bare = command_line.find(directory) != std::wstring::npos;
  if (!quoted && !bare) __builtin_trap();
  for (wchar_t c : directory) {
    if (!quoted && IsAsciiSpace(c)) __builtin_trap();  // a bare token ends at white space
  }
  return 0;
}
