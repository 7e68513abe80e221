#include "test_packages.h"

#include <atomic>
#include <chrono>

#include "ovra/strings.h"

namespace msi_test {

std::wstring PackagePath(const std::wstring& name) {
  std::wstring folder = ovra::WideFromUtf8(MSI_TEST_PACKAGE_DIR);
#ifdef _WIN32
  // Wine maps the Linux root to drive Z:.
  for (wchar_t& c : folder) {
    if (c == L'/') c = L'\\';
  }
  return L"Z:" + folder + L"\\" + name;
#else
  return folder + L"/" + name;
#endif
}

ScratchCopy::ScratchCopy(const std::wstring& name) {
  static std::atomic<int> counter{0};
  const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  folder_ = std::filesystem::temp_directory_path() /
            ("msi_tests_" + std::to_string(stamp) + "_" + std::to_string(counter++));
  std::filesystem::create_directories(folder_);
  file_ = folder_ / std::filesystem::path(name);
  std::filesystem::copy_file(std::filesystem::path(PackagePath(name)), file_);
}

ScratchCopy::~ScratchCopy() {
  std::error_code ignored;
  std::filesystem::remove_all(folder_, ignored);
}

}  // namespace msi_test
