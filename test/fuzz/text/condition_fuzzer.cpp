// The condition evaluator over a fixed session: every text gives one of the
// four results.
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

#include "engine/condition.h"
#include "text_input.h"

namespace {

class Session : public linux_msi::ConditionContext {
 public:
  std::wstring Property(const std::wstring& name) const override { return Find(properties_, name); }
  std::wstring Environment(const std::wstring& name) const override { return Find(environment_, name); }
  int ComponentInstalledState(const std::wstring& name) const override { return name == L"Core" ? 3 : -1; }
  int ComponentActionState(const std::wstring& name) const override { return name == L"Core" ? 2 : -1; }
  int FeatureInstalledState(const std::wstring& name) const override { return name == L"Main" ? 3 : -1; }
  int FeatureActionState(const std::wstring& name) const override { return name == L"Main" ? 4 : -1; }

 private:
  static std::wstring Find(const std::map<std::wstring, std::wstring>& map, const std::wstring& name) {
    const auto found = map.find(name);
    return found == map.end() ? std::wstring() : found->second;
  }
  const std::map<std::wstring, std::wstring> properties_{
      {L"VersionNT", L"603"}, {L"Installed", L"1"}, {L"EDITION", L"home"}, {L"Big", L"2147483648"},
      {L"Negative", L"-2147483648"}, {L"Empty", L""}, {L"Text", L"Heron Works \u00fc"}};
  const std::map<std::wstring, std::wstring> environment_{{L"PATH", L"/usr/bin"}, {L"HOME", L"/root"}};
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const Session session;
  const auto result = linux_msi::EvaluateCondition(fuzz::TextFromInput(data, size), session);
  if (static_cast<int>(result) < 0 || static_cast<int>(result) > 3) __builtin_trap();
  return 0;
}
