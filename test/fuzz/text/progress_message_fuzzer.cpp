// The setup engine's reading of Windows Installer's message stream: each line
// of the input is one message, its first character choosing the type.
#include <cstddef>
#include <cstdint>

#include "msi_wrapper/setup_progress.h"
#include "text_input.h"

namespace {

// PROGRESS, ACTIONSTART, ACTIONDATA, INFO, ERROR, WARNING, COMMONDATA, and a type the engine ignores.
constexpr UINT kTypes[] = {0x0A000000, 0x08000000, 0x09000000, 0x04000000,
                           0x01000000, 0x02000000, 0x0B000000, 0x07000000};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  namespace msi = installer::msi_wrapper;
  msi::ProgressState state;
  for (const std::wstring& line : fuzz::LinesFromInput(data, size)) {
    msi::ProgressState parsed;
    msi::ParseProgressMessage(line, parsed);
    const UINT type = kTypes[line.empty() ? 0 : static_cast<std::uint32_t>(line[0]) % 8];
    const std::wstring text = line.empty() ? line : line.substr(1);
    msi::ApplyInstallMessage(state, type | (line.size() % 16), line.size() % 7 == 6 ? nullptr : text.c_str());
    msi::ProgressPercentage(state);
  }
  return 0;
}
