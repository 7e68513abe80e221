// The generated test packages and scratch copies of them.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace msi_test {

// The Windows build runs under Wine, whose msi.dll differs a little (docs/wine-differences.md).
#ifdef _WIN32
constexpr bool kUnderWine = true;
#else
constexpr bool kUnderWine = false;
#endif

// A new, empty folder under the temporary folder, named `prefix` and a unique tail.
std::filesystem::path FreshTemporaryFolder(const std::string& prefix);

// Sets an environment variable of this process; an empty value removes it.
void SetEnvironment(const char* name, const std::wstring& value);

// A path of the build machine in the form the running system opens (a Z: path under Wine).
std::wstring SystemPath(const std::string& path);

// A file of the generated package folder, as SystemPath gives it.
std::wstring PackagePath(const std::wstring& name);

// A private copy of a package in a fresh temporary folder, removed with the object.
class ScratchCopy {
 public:
  explicit ScratchCopy(const std::wstring& name);
  ~ScratchCopy();
  ScratchCopy(const ScratchCopy&) = delete;
  ScratchCopy& operator=(const ScratchCopy&) = delete;

  std::wstring path() const { return file_.wstring(); }
  std::uintmax_t size() const { return std::filesystem::file_size(file_); }
  bool exists() const { return std::filesystem::exists(file_); }
  const std::filesystem::path& folder() const { return folder_; }

 private:
  std::filesystem::path folder_;
  std::filesystem::path file_;
};

// A fresh INSTALLER_VESK_HOME (the Linux engine's state folder), removed with the object.
class ScopedEngineHome {
 public:
  ScopedEngineHome();
  ~ScopedEngineHome();
  ScopedEngineHome(const ScopedEngineHome&) = delete;
  ScopedEngineHome& operator=(const ScopedEngineHome&) = delete;

  const std::filesystem::path& folder() const { return folder_; }

 private:
  std::filesystem::path folder_;
};

}  // namespace msi_test
