// Rules of the installer objects that need no package; the executable's own
// folder is checked from script (installer_controller.test.js).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "installer_vesk/application.h"
#include "installer_vesk/conflicting_product.h"
#include "installer_vesk/interop_helpers.h"
#include "installer_vesk/log_option.h"
#include "installer_vesk/tracer.h"
#include "ovra/strings.h"

namespace {

#ifdef _WIN32
constexpr bool kWindows = true;
#else
constexpr bool kWindows = false;
#endif

TEST(ExecutableDirectory, CutsTheFileName) {
  const struct {
    const wchar_t* path;
    const wchar_t* directory;
  } windows_paths[] = {
      {L"C:\\Apps\\Installer\\electron.exe", L"C:\\Apps\\Installer"},
      {L"C:\\electron.exe", L"C:\\"},  // a drive root keeps its separator
      {L"\\\\server\\share\\electron.exe", L"\\\\server\\share"},
      {L"C:/Apps/electron.exe", L"C:/Apps"},
      {L"C:electron.exe", L"C:"},
      {L"electron.exe", L""},
  },
    posix_paths[] = {
      {L"/opt/app/node", L"/opt/app"},
      {L"/node", L"/"},
      {L"/opt/a\\b/node", L"/opt/a\\b"},  // a backslash belongs to the name
      {L"node", L""},
  };
  for (const auto& row : kWindows ? std::vector(std::begin(windows_paths), std::end(windows_paths))
                                  : std::vector(std::begin(posix_paths), std::end(posix_paths))) {
    EXPECT_EQ(row.directory, installer::ExecutableDirectoryOf(row.path)) << ovra::Utf8FromWide(row.path);
  }
}

TEST(LogOption, FindsTheFirstDirectory) {
  const struct {
    const wchar_t* command_line;
    const wchar_t* directory;  // nullptr: no option
  } rows[] = {
      {L"setup.exe /log C:\\Logs /quiet", L"C:\\Logs"},
      {L"setup.exe /log \"C:\\My Logs\\\" /quiet", L"C:\\My Logs\\"},
      {L"setup.exe /log\t  /var/log/setup", L"/var/log/setup"},
      {L"x/log y", L"y"},  // no word boundary needed before it
      {L"/log ab\"cd", L"ab"},  // a bare token stops at a quote
      {L"/log first /log second", L"first"},
      {L"/log \"\" next", nullptr},  // quotes around nothing name no directory
      {L"setup.exe /LOG C:\\Logs", nullptr},
      {L"setup.exe /logC:\\Logs", nullptr},
      {L"setup.exe /log", nullptr},
      {L"setup.exe /log   ", nullptr},
      {L"", nullptr},
  };
  for (const auto& row : rows) {
    std::wstring directory = L"unchanged";
    const bool found = installer::FindLogDirectory(row.command_line, directory);
    EXPECT_EQ(row.directory != nullptr, found) << ovra::Utf8FromWide(row.command_line);
    EXPECT_EQ(row.directory != nullptr ? row.directory : L"unchanged", directory)
        << ovra::Utf8FromWide(row.command_line);
  }
}

TEST(LogNames, DirectoryAndNameJoinWithOneSeparator) {
  const std::string sep(1, kWindows ? '\\' : '/');
  const struct {
    std::string directory;
    std::string name;
    std::string joined;
  } rows[] = {
      {"logs", "a.log", "logs" + sep + "a.log"},
      {"logs/", "a.log", "logs/a.log"},
      {"logs\\", "a.log", kWindows ? "logs\\a.log" : "logs\\/a.log"},
      {"logs", "", "logs"},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(row.joined, installer::PrefixDirectory(row.directory, row.name)) << row.directory;
  }
}

// The comparison is MsiProductVersion's; 1.9.0 over 1.10.0 from script (package_info.test.js).
TEST(Downgrade, ComparesVersionsAndNeedsBoth) {
  const struct {
    const wchar_t* package;
    const wchar_t* installed;
    bool downgrade;
  } rows[] = {
      {L"1.0.0", L"2.0.0", true},
      {L"", L"1.0.0", false},  // "" would read as 0.0.0
      {L"1.0.0", L"", false},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(row.downgrade, installer::IsDowngrade(row.package, row.installed))
        << ovra::Utf8FromWide(row.package) << " over " << ovra::Utf8FromWide(row.installed);
  }
}

}  // namespace
