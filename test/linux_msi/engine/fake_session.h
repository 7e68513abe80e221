// A session made of maps, answering both the condition and the format lookups.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "engine/condition.h"
#include "engine/format.h"

namespace msi_engine_test {

class FakeSession : public linux_msi::ConditionContext, public linux_msi::FormatContext {
 public:
  std::map<std::wstring, std::wstring> properties, environment, files, component_folders;
  std::map<std::wstring, int> component_installed, component_action, feature_installed, feature_action;
  std::vector<std::wstring> fields;  // fields[0] is record field 1

  std::wstring Property(const std::wstring& name) const override { return Find(properties, name); }
  std::wstring Environment(const std::wstring& name) const override { return Find(environment, name); }
  std::wstring FilePath(const std::wstring& key) const override { return Find(files, key); }
  std::wstring ComponentDirectory(const std::wstring& key) const override { return Find(component_folders, key); }
  int ComponentInstalledState(const std::wstring& name) const override { return State(component_installed, name); }
  int ComponentActionState(const std::wstring& name) const override { return State(component_action, name); }
  int FeatureInstalledState(const std::wstring& name) const override { return State(feature_installed, name); }
  int FeatureActionState(const std::wstring& name) const override { return State(feature_action, name); }
  bool RecordField(unsigned index, std::wstring& text) const override {
    if (index == 0 || index > fields.size()) return false;
    text = fields[index - 1];
    return true;
  }

 private:
  static std::wstring Find(const std::map<std::wstring, std::wstring>& map, const std::wstring& key) {
    auto it = map.find(key);
    return it == map.end() ? std::wstring() : it->second;
  }
  static int State(const std::map<std::wstring, int>& map, const std::wstring& key) {
    auto it = map.find(key);
    return it == map.end() ? -1 : it->second;
  }
};

// Calls `check` with every string of 1 to `longest` characters of `alphabet`, until it returns false.
template <typename Check>
void ForEachString(const std::wstring& alphabet, std::size_t longest, Check check) {
  for (std::size_t length = 1; length <= longest; ++length) {
    for (std::vector<std::size_t> digits(length, 0);;) {
      std::wstring text;
      for (std::size_t d : digits) text += alphabet[d];
      if (!check(text)) return;
      std::size_t i = 0;
      while (i < length && ++digits[i] == alphabet.size()) digits[i++] = 0;
      if (i == length) break;
    }
  }
}

}  // namespace msi_engine_test
