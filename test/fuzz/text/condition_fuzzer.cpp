// The condition evaluator over a fixed session: every text gives one of the
// four results.
#include <cstddef>
#include <cstdint>

#include "fake_session.h"
#include "text_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const msi_engine_test::FakeSession session = [] {
    msi_engine_test::FakeSession s;
    s.properties = {{L"VersionNT", L"603"},     {L"Installed", L"1"}, {L"EDITION", L"home"},
                    {L"Big", L"2147483648"},    {L"Negative", L"-2147483648"}, {L"Empty", L""},
                    {L"Text", L"Heron Works \u00fc"}};
    s.environment = {{L"PATH", L"/usr/bin"}, {L"HOME", L"/root"}};
    s.component_installed = {{L"Core", 3}};
    s.component_action = {{L"Core", 2}};
    s.feature_installed = {{L"Main", 3}};
    s.feature_action = {{L"Main", 4}};
    return s;
  }();
  const auto result = linux_msi::EvaluateCondition(fuzz::TextFromInput(data, size), session);
  if (static_cast<int>(result) < 0 || static_cast<int>(result) > 3) __builtin_trap();
  return 0;
}
