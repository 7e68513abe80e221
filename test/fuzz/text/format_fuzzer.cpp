// Formatted text over a fixed session and record.
#include <cstddef>
#include <cstdint>

#include "fake_session.h"
#include "text_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const msi_engine_test::FakeSession session = [] {
    msi_engine_test::FakeSession s;
    s.properties = {{L"ProductName", L"Heron Backup"}, {L"INSTALLDIR", L"/p/"}, {L"Self", L"[Self]"}, {L"Brace", L"{"}};
    s.environment = {{L"HOME", L"/root"}};
    s.files = {{L"readme", L"/p/readme.txt"}};
    s.component_folders = {{L"Core", L"/p/"}};
    s.fields = {L"[Nested]", L"", L"third"};
    return s;
  }();
  linux_msi::FormatText(fuzz::TextFromInput(data, size), session);
  return 0;
}
