// Formatted text over a fixed session and record.
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

#include "engine/format.h"
#include "text_input.h"

namespace {

class Session : public linux_msi::FormatContext {
 public:
  std::wstring Property(const std::wstring& name) const override { return Find(properties_, name); }
  std::wstring Environment(const std::wstring& name) const override { return name == L"HOME" ? L"/root" : L""; }
  std::wstring FilePath(const std::wstring& key) const override { return key == L"readme" ? L"/p/readme.txt" : L""; }
  std::wstring ComponentDirectory(const std::wstring& component) const override {
    return component == L"Core" ? L"/p/" : L"";
  }
  bool RecordField(unsigned index, std::wstring& text) const override {
    if (index == 0 || index > 3) return false;
    text = index == 1 ? L"[Nested]" : index == 2 ? L"" : L"third";
    return true;
  }

 private:
  static std::wstring Find(const std::map<std::wstring, std::wstring>& map, const std::wstring& name) {
    const auto found = map.find(name);
    return found == map.end() ? std::wstring() : found->second;
  }
  const std::map<std::wstring, std::wstring> properties_{
      {L"ProductName", L"Heron Backup"}, {L"INSTALLDIR", L"/p/"}, {L"Self", L"[Self]"}, {L"Brace", L"{"}};
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const Session session;
  linux_msi::FormatText(fuzz::TextFromInput(data, size), session);
  return 0;
}
