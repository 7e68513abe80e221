#include "test_packages.h"

#include <atomic>
#include <chrono>
#include <cstdlib>

#include "ovra/strings.h"

namespace msi_test {

std::filesystem::path FreshTemporaryFolder(const std::string& prefix) {
  static std::atomic<int> counter{0};
  const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  std::filesystem::path folder =
      std::filesystem::temp_directory_path() / (prefix + std::to_string(stamp) + "_" + std::to_string(counter++));
  std::filesystem::create_directories(folder);
  return folder;
}

void SetEnvironment(const char* name, const std::wstring& value) {
#ifdef _WIN32
  _wputenv_s(ovra::WideFromUtf8(name).c_str(), value.c_str());  // an empty value removes it
#else
  if (value.empty()) {
    unsetenv(name);
  } else {
    setenv(name, ovra::Utf8FromWide(value).c_str(), 1);
  }
#endif
}

std::wstring SystemPath(const std::string& path) {
  std::wstring text = ovra::WideFromUtf8(path);
#ifdef _WIN32
  // Wine maps the Linux root to drive Z:.
  for (wchar_t& c : text) {
    if (c == L'/') c = L'\\';
  }
  text = L"Z:" + text;
#endif
  return text;
}

std::wstring PackagePath(const std::wstring& name) { return SystemPath(MSI_TEST_PACKAGE_DIR "/") + name; }

ScratchCopy::ScratchCopy(const std::wstring& name) {
  folder_ = FreshTemporaryFolder("msi_tests_");
  file_ = folder_ / std::filesystem::path(name);
  std::filesystem::copy_file(std::filesystem::path(PackagePath(name)), file_);
}

ScratchCopy::~ScratchCopy() {
  std::error_code ignored;
  std::filesystem::remove_all(folder_, ignored);
}

ScopedEngineHome::ScopedEngineHome() : folder_(FreshTemporaryFolder("engine_home_")) {
  SetEnvironment("INSTALLER_VESK_HOME", folder_.wstring());
}

ScopedEngineHome::~ScopedEngineHome() {
  SetEnvironment("INSTALLER_VESK_HOME", L"");
  std::error_code ignored;
  std::filesystem::remove_all(folder_, ignored);
}

}  // namespace msi_test
