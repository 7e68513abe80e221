// The Windows Installer C API as the library uses it: Wine's msi.dll in the Windows
// lane, the libmsi-based stand-in on Linux (Wine's differences: docs/wine-differences.md).
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <functional>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "msi_wrapper/msi_api.h"
#include "msi_wrapper/msi_handle.h"
#include "platform/msi_diagnostics.h"
#include "test_packages.h"

namespace {

using installer::msi_wrapper::UniqueMsiHandle;
using msi_test::PackagePath;
using msi_test::ScratchCopy;

constexpr bool kWine = msi_test::kUnderWine;

UniqueMsiHandle OpenDatabase(const std::wstring& path, LPCWSTR persist = MSIDBOPEN_READONLY) {
  MSIHANDLE handle = 0;
  EXPECT_EQ(ERROR_SUCCESS, MsiOpenDatabaseW(path.c_str(), persist, &handle)) << "opening " << path.size();
  return UniqueMsiHandle(handle);
}

UniqueMsiHandle OpenView(MSIHANDLE database, const wchar_t* query, MSIHANDLE parameters = 0) {
  MSIHANDLE view = 0;
  EXPECT_EQ(ERROR_SUCCESS, MsiDatabaseOpenViewW(database, query, &view));
  EXPECT_EQ(ERROR_SUCCESS, MsiViewExecute(view, parameters));
  return UniqueMsiHandle(view);
}

// The view's next row; an empty handle at the end.
UniqueMsiHandle Fetch(MSIHANDLE view) {
  UniqueMsiHandle record;
  MsiViewFetch(view, record.receive());
  return record;
}

std::wstring FieldText(MSIHANDLE record, UINT field) {
  wchar_t buffer[512] = L"";
  DWORD size = 512;
  EXPECT_EQ(ERROR_SUCCESS, MsiRecordGetStringW(record, field, buffer, &size));
  return buffer;
}

// Values of field 1 of every row of the query.
std::vector<std::wstring> Column(MSIHANDLE database, const wchar_t* query) {
  UniqueMsiHandle view = OpenView(database, query);
  std::vector<std::wstring> values;
  for (UniqueMsiHandle record; (record = Fetch(view.get()));) values.push_back(FieldText(record.get(), 1));
  return values;
}

std::wstring PropertyValue(MSIHANDLE database, const std::wstring& name) {
  UniqueMsiHandle parameters(MsiCreateRecord(1));
  MsiRecordSetStringW(parameters.get(), 1, name.c_str());
  UniqueMsiHandle view = OpenView(database, L"SELECT `Value` FROM `Property` WHERE `Property`=?", parameters.get());
  UniqueMsiHandle record = Fetch(view.get());
  return record ? FieldText(record.get(), 1) : L"<none>";
}

TEST(MsiApiOpen, RefusesFilesThatAreNotPackages) {
  MSIHANDLE handle = 0;
  // Wine's msi.dll answers 1627 (ERROR_FUNCTION_FAILED) where 110 is documented.
  for (const wchar_t* name :
       {L"no_such.msi", L"not_msi.msi", L"zero_length.msi", L"truncated_header.msi", L"truncated_half.msi"}) {
    const UINT result = MsiOpenDatabaseW(PackagePath(name).c_str(), MSIDBOPEN_READONLY, &handle);
    EXPECT_EQ(kWine ? ERROR_FUNCTION_FAILED : ERROR_OPEN_FAILED, result) << name;
    EXPECT_EQ(0u, handle) << name;
  }
  if (!kWine) {  // Wine answers a null path with 1627 and crashes on a null handle pointer
    EXPECT_EQ(ERROR_INVALID_PARAMETER, MsiOpenDatabaseW(nullptr, MSIDBOPEN_READONLY, &handle));
    EXPECT_EQ(ERROR_INVALID_PARAMETER,
              MsiOpenDatabaseW(PackagePath(L"plain.msi").c_str(), MSIDBOPEN_READONLY, nullptr));
  }
}

TEST(MsiApiHandles, ClosedAndForeignHandlesAreRefused) {
  EXPECT_EQ(ERROR_SUCCESS, MsiCloseHandle(0));
  const MSIHANDLE record = MsiCreateRecord(2);
  ASSERT_EQ(ERROR_SUCCESS, MsiCloseHandle(record));
  EXPECT_EQ(ERROR_INVALID_HANDLE, MsiCloseHandle(record));
  EXPECT_EQ(static_cast<UINT>(-1), MsiRecordGetFieldCount(record));
  EXPECT_EQ(ERROR_INVALID_HANDLE, MsiRecordSetStringW(record, 1, L"x"));
  EXPECT_EQ(static_cast<int>(MSI_NULL_INTEGER), MsiRecordGetInteger(record, 1));
  // A handle of one kind passed where another is expected.
  UniqueMsiHandle database = OpenDatabase(PackagePath(L"plain.msi"));
  MSIHANDLE out = 0;
  UniqueMsiHandle view = OpenView(database.get(), L"SELECT * FROM `File`");
  EXPECT_EQ(ERROR_INVALID_HANDLE, MsiRecordSetInteger(database.get(), 1, 1));
  EXPECT_EQ(ERROR_INVALID_HANDLE, MsiViewFetch(database.get(), &out));
  EXPECT_EQ(ERROR_INVALID_HANDLE, MsiViewExecute(view.get(), database.get()));
}

// With a dead handle a missing pointer (or unknown mode) gives ERROR_INVALID_PARAMETER,
// valid arguments ERROR_INVALID_HANDLE. Wine checks the handle first where marked.
TEST(MsiApiHandles, ArgumentsAreCheckedBeforeTheHandle) {
  const MSIHANDLE dead = MsiCreateRecord(1);
  ASSERT_EQ(ERROR_SUCCESS, MsiCloseHandle(dead));
  wchar_t text[8] = L"";
  DWORD size = 8;
  MSIHANDLE out = 0;
  INSTALLSTATE state = INSTALLSTATE_UNKNOWN;
  const auto given = [](bool valid, auto pointer) { return valid ? pointer : nullptr; };
  const struct {
    const char* call;
    bool wine_checks_handle_first;
    std::function<UINT(bool valid)> run;
  } cases[] = {
      {"MsiGetPropertyW", false, [&](bool v) { return MsiGetPropertyW(dead, given(v, L"P"), nullptr, nullptr); }},
      {"MsiGetPropertyW size", true, [&](bool v) { return MsiGetPropertyW(dead, L"P", text, given(v, &size)); }},
      {"MsiSetPropertyW", true, [&](bool v) { return MsiSetPropertyW(dead, given(v, L"P"), L"1"); }},
      {"MsiFormatRecordW", true, [&](bool v) { return MsiFormatRecordW(0, dead, text, given(v, &size)); }},
      {"MsiDoActionW", false, [&](bool v) { return MsiDoActionW(dead, given(v, L"CostInitialize")); }},
      {"MsiGetTargetPathW", false, [&](bool v) { return MsiGetTargetPathW(dead, given(v, L"A"), text, &size); }},
      {"MsiGetFeatureStateW", true, [&](bool v) { return MsiGetFeatureStateW(dead, L"F", &state, given(v, &state)); }},
      {"MsiDatabaseOpenViewW", false, [&](bool v) { return MsiDatabaseOpenViewW(dead, L"SELECT 1", given(v, &out)); }},
      {"MsiViewFetch", false, [&](bool v) { return MsiViewFetch(dead, given(v, &out)); }},
      {"MsiViewModify", true,
       [&](bool v) { return MsiViewModify(dead, v ? MSIMODIFY_INSERT : static_cast<MSIMODIFY>(99), dead); }},
      {"MsiRecordGetStringW", true, [&](bool v) { return MsiRecordGetStringW(dead, 1, text, given(v, &size)); }},
      {"MsiGetSummaryInformationW", false,
       [&](bool v) { return MsiGetSummaryInformationW(dead, nullptr, 0, given(v, &out)); }},
      {"MsiSummaryInfoGetPropertyW", true,
       [&](bool v) {
         return MsiSummaryInfoGetPropertyW(dead, PID_TITLE, nullptr, nullptr, nullptr, text, given(v, &size));
       }},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(kWine && c.wine_checks_handle_first ? ERROR_INVALID_HANDLE : ERROR_INVALID_PARAMETER, c.run(false))
        << c.call;
    EXPECT_EQ(ERROR_INVALID_HANDLE, c.run(true)) << c.call;
  }
  // The unknown summary property and the missing query are argument errors too.
  EXPECT_EQ(ERROR_UNKNOWN_PROPERTY, MsiSummaryInfoGetPropertyW(dead, 20, nullptr, nullptr, nullptr, nullptr, nullptr));
  EXPECT_EQ(ERROR_BAD_QUERY_SYNTAX, MsiDatabaseOpenViewW(dead, nullptr, &out));
}

#ifndef _WIN32
// The stand-in's own guarantee (msi.dll reuses closed values): a stale handle never names a newer object.
TEST(MsiApiHandles, ClosedValuesAreNotReused) {
  const MSIHANDLE closed = MsiCreateRecord(1);
  ASSERT_EQ(ERROR_SUCCESS, MsiCloseHandle(closed));
  std::vector<UniqueMsiHandle> records(1000);
  for (UniqueMsiHandle& record : records) ASSERT_NE(closed, (record = UniqueMsiHandle(MsiCreateRecord(1))).get());
  EXPECT_EQ(static_cast<UINT>(-1), MsiRecordGetFieldCount(closed));
}
#endif

// The second close is checked only here: msi.dll (and Wine) hand the value to
// another thread's next record at once.
TEST(MsiApiHandles, ThreadsShareTheHandleTable) {
  std::vector<std::thread> threads;
  std::vector<int> mismatches(4, 0);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t, &mismatches] {
      for (int i = 0; i < 2000; ++i) {
        const MSIHANDLE record = MsiCreateRecord(1);
        MsiRecordSetInteger(record, 1, t * 100000 + i);
        if (MsiRecordGetInteger(record, 1) != t * 100000 + i || MsiCloseHandle(record) != ERROR_SUCCESS ||
            (!kWine && MsiCloseHandle(record) != ERROR_INVALID_HANDLE)) {
          ++mismatches[t];
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ((std::vector<int>{0, 0, 0, 0}), mismatches);
}

#ifndef _WIN32
// A parameter record rewritten while a view executes with it is read under one lock (ASan would show a free).
TEST(MsiApiHandles, ParametersRewrittenDuringExecute) {
  UniqueMsiHandle database = OpenDatabase(PackagePath(L"plain.msi"));
  UniqueMsiHandle parameters(MsiCreateRecord(1));
  MsiRecordSetStringW(parameters.get(), 1, L"ProductName");
  UniqueMsiHandle view =
      OpenView(database.get(), L"SELECT `Value` FROM `Property` WHERE `Property`=?", parameters.get());
  std::atomic<bool> done{false};
  std::thread writer([&parameters, &done] {
    for (int i = 0; !done; ++i) {
      MsiRecordSetStringW(parameters.get(), 1, i % 2 ? L"ProductName" : L"Manufacturer of the product, at length");
    }
  });
  int failures = 0;
  for (int i = 0; i < 100000; ++i) failures += MsiViewExecute(view.get(), parameters.get()) != ERROR_SUCCESS;
  done = true;
  writer.join();
  EXPECT_EQ(0, failures);
}
#endif

TEST(MsiApiHandles, CloseAllHandles) {
  const MSIHANDLE first = MsiCreateRecord(1);
  MsiCreateRecord(1);
  EXPECT_GE(MsiCloseAllHandles(), 2u);
  EXPECT_EQ(ERROR_INVALID_HANDLE, MsiCloseHandle(first));
  EXPECT_EQ(0u, MsiCloseAllHandles());
}

TEST(MsiApiRecord, FieldsReadAsWritten) {
  UniqueMsiHandle record(MsiCreateRecord(3));
  ASSERT_TRUE(record);
  EXPECT_EQ(3u, MsiRecordGetFieldCount(record.get()));
  EXPECT_TRUE(MsiRecordIsNull(record.get(), 1));
  EXPECT_TRUE(MsiRecordIsNull(record.get(), 4));  // past the count
  EXPECT_EQ(ERROR_SUCCESS, MsiRecordSetStringW(record.get(), 1, L"42"));
  EXPECT_EQ(ERROR_SUCCESS, MsiRecordSetInteger(record.get(), 2, -7));
  EXPECT_EQ(ERROR_SUCCESS, MsiRecordSetStringW(record.get(), 3, L"words"));
  EXPECT_FALSE(MsiRecordIsNull(record.get(), 1));
  EXPECT_EQ(42, MsiRecordGetInteger(record.get(), 1));  // numeric text converts
  EXPECT_EQ(L"-7", FieldText(record.get(), 2));         // and integers read as text
  EXPECT_EQ(static_cast<int>(MSI_NULL_INTEGER), MsiRecordGetInteger(record.get(), 3));
  EXPECT_EQ(static_cast<int>(MSI_NULL_INTEGER), MsiRecordGetInteger(record.get(), 4));
  EXPECT_EQ(ERROR_SUCCESS, MsiRecordSetStringW(record.get(), 3, L""));  // an empty string is null
  EXPECT_TRUE(MsiRecordIsNull(record.get(), 3));
  // Wine answers 1616 (ERROR_INVALID_FIELD) where ERROR_INVALID_PARAMETER is documented.
  EXPECT_EQ(kWine ? ERROR_INVALID_FIELD : ERROR_INVALID_PARAMETER, MsiRecordSetStringW(record.get(), 4, L"x"));
  EXPECT_EQ(ERROR_INVALID_PARAMETER, MsiRecordSetInteger(record.get(), 4, 1));
  EXPECT_EQ(0u, MsiCreateRecord(65536));
}

TEST(MsiApiRecord, StringReadFollowsTheBufferRules) {
  UniqueMsiHandle record(MsiCreateRecord(3));
  ASSERT_EQ(ERROR_SUCCESS, MsiRecordSetStringW(record.get(), 1, L"abcdef"));
  DWORD size = 0;
  EXPECT_EQ(ERROR_SUCCESS, MsiRecordGetStringW(record.get(), 1, nullptr, &size));  // length only
  EXPECT_EQ(6u, size);
  wchar_t buffer[8] = L"zzzzzzz";
  size = 6;  // no room for the terminator
  EXPECT_EQ(ERROR_MORE_DATA, MsiRecordGetStringW(record.get(), 1, buffer, &size));
  EXPECT_EQ(6u, size);
  if (!kWine) {  // undocumented; Wine leaves no terminator
    EXPECT_EQ(std::wstring(L"abcde"), buffer);
  }
  size = 7;
  EXPECT_EQ(ERROR_SUCCESS, MsiRecordGetStringW(record.get(), 1, buffer, &size));
  EXPECT_EQ(6u, size);
  EXPECT_EQ(std::wstring(L"abcdef"), buffer);
  // Lengths count UTF-16 units with msi.dll (wchar_t's size) and code points here.
  ASSERT_EQ(ERROR_SUCCESS, MsiRecordSetStringW(record.get(), 2, L"Gr\u00fc\u00dfe \U0001D11E"));
  size = 4;
  EXPECT_EQ(ERROR_MORE_DATA, MsiRecordGetStringW(record.get(), 2, buffer, &size));
  EXPECT_EQ(sizeof(wchar_t) == 2 ? 8u : 7u, size);
  if (!kWine) {
    EXPECT_EQ(std::wstring(L"Gr\u00fc"), buffer);
  }
  // A null field and a field past the count read as empty text.
  for (UINT field : {3u, 9u}) {
    size = 8;
    buffer[0] = L'z';
    EXPECT_EQ(ERROR_SUCCESS, MsiRecordGetStringW(record.get(), field, buffer, &size)) << field;
    EXPECT_EQ(0u, size);
    EXPECT_EQ(L'\0', buffer[0]);
  }
}

TEST(MsiApiView, BadQueriesFailToOpen) {
  UniqueMsiHandle database = OpenDatabase(PackagePath(L"plain.msi"));
  MSIHANDLE view = 0;
  EXPECT_EQ(ERROR_BAD_QUERY_SYNTAX, MsiDatabaseOpenViewW(database.get(), L"SELECT * FROM NoSuchTable", &view));
  EXPECT_EQ(ERROR_BAD_QUERY_SYNTAX, MsiDatabaseOpenViewW(database.get(), L"SELECT FROM WHERE", &view));
  EXPECT_EQ(0u, view);
}

TEST(MsiApiView, FetchesRowsOfAnExecutedViewThenTheEnd) {
  UniqueMsiHandle database = OpenDatabase(PackagePath(L"plain.msi"));
  UniqueMsiHandle view;
  ASSERT_EQ(ERROR_SUCCESS,
            MsiDatabaseOpenViewW(database.get(), L"SELECT `File`, `FileSize` FROM `File`", view.receive()));
  std::vector<std::wstring> fetched;  // a failed fetch as its code
  const auto fetch = [&view, &fetched] {
    MSIHANDLE record = 12345;
    const UINT result = MsiViewFetch(view.get(), &record);
    UniqueMsiHandle owner(record);
    EXPECT_EQ(result != ERROR_SUCCESS, record == 0);
    fetched.push_back(result == ERROR_SUCCESS ? FieldText(record, 1) : std::to_wstring(result));
  };
  fetch();
  // The fetch after the end starts over, as does executing again.
  ASSERT_EQ(ERROR_SUCCESS, MsiViewExecute(view.get(), 0));
  for (int i = 0; i < 4; ++i) fetch();
  ASSERT_EQ(ERROR_SUCCESS, MsiViewExecute(view.get(), 0));
  fetch();
  const std::vector<std::wstring> expected{kWine ? L"heron.ini" : L"1627",  // Wine fetches from a view never executed
                                           L"heron.ini", L"readme.txt", L"259", L"heron.ini", L"heron.ini"};
  EXPECT_EQ(expected, fetched);
}

#ifndef _WIN32
std::vector<std::string> diagnostics;

// libmsi's GLib warnings go to the platform's diagnostic sink, never to stderr.
TEST(MsiApiDiagnostics, LibmsiWarningsReachTheSinkNotStderr) {
  UniqueMsiHandle database = OpenDatabase(PackagePath(L"plain.msi"));
  MSIHANDLE view = 0;
  const platform::MsiDiagnosticSink previous = platform::SetMsiDiagnosticSink(nullptr);
  testing::internal::CaptureStderr();
  EXPECT_EQ(ERROR_BAD_QUERY_SYNTAX, MsiDatabaseOpenViewW(database.get(), L"SELECT * FROM NoSuchTable", &view));
  platform::SetMsiDiagnosticSink([](std::string_view message) { diagnostics.emplace_back(message); });
  EXPECT_EQ(ERROR_BAD_QUERY_SYNTAX, MsiDatabaseOpenViewW(database.get(), L"SELECT * FROM NoSuchTable", &view));
  MSIHANDLE truncated = 0;  // libgsf, reading the storage, complains too
  EXPECT_EQ(ERROR_OPEN_FAILED,
            MsiOpenDatabaseW(PackagePath(L"truncated_half.msi").c_str(), MSIDBOPEN_READONLY, &truncated));
  platform::SetMsiDiagnosticSink(previous);
  EXPECT_EQ("", testing::internal::GetCapturedStderr());
  EXPECT_TRUE(std::any_of(diagnostics.begin(), diagnostics.end(), [](const std::string& message) {
    return message.find("table not found") != std::string::npos;
  })) << diagnostics.size() << " messages";
}
#endif

// The string's buffer rules and the read by path: package_queries_test and engine_test.
TEST(MsiApiSummary, PropertiesReadWithTheirTypes) {
  UniqueMsiHandle database = OpenDatabase(PackagePath(L"plain.msi")), summary;
  ASSERT_EQ(ERROR_SUCCESS, MsiGetSummaryInformationW(database.get(), nullptr, 0, summary.receive()));
  UINT type = 99;
  wchar_t code[64] = L"";
  DWORD size = 64;
  EXPECT_EQ(ERROR_SUCCESS,
            MsiSummaryInfoGetPropertyW(summary.get(), PID_REVNUMBER, &type, nullptr, nullptr, code, &size));
  EXPECT_EQ(static_cast<UINT>(VT_LPSTR), type);
  EXPECT_EQ(std::wstring(L"{5D2A7F10-3E4B-4C8D-9F61-0A1B2C3D4E50}"), code);
  INT number = 0;
  EXPECT_EQ(ERROR_SUCCESS, MsiSummaryInfoGetPropertyW(summary.get(), PID_PAGECOUNT, &type, &number, nullptr,
                                                      nullptr, nullptr));
  EXPECT_EQ(static_cast<UINT>(VT_I4), type);
  EXPECT_EQ(200, number);
  FILETIME created{};
  EXPECT_EQ(ERROR_SUCCESS, MsiSummaryInfoGetPropertyW(summary.get(), PID_CREATE_DTM, &type, nullptr, &created,
                                                      nullptr, nullptr));
  EXPECT_EQ(static_cast<UINT>(VT_FILETIME), type);
  EXPECT_NE(0u, created.dwHighDateTime);
  EXPECT_EQ(ERROR_UNKNOWN_PROPERTY,
            MsiSummaryInfoGetPropertyW(summary.get(), 20, &type, nullptr, nullptr, nullptr, nullptr));
  EXPECT_EQ(static_cast<UINT>(VT_EMPTY), type);
}

// Writing happens on private copies only.
class MsiApiWrite : public ::testing::Test {
 protected:
  ScratchCopy copy_{L"plain.msi"};
  UINT InsertProperty(MSIHANDLE database, const wchar_t* name, const wchar_t* value) {
    UniqueMsiHandle view = OpenView(database, L"SELECT * FROM `Property`");
    UniqueMsiHandle record(MsiCreateRecord(2));
    MsiRecordSetStringW(record.get(), 1, name);
    MsiRecordSetStringW(record.get(), 2, value);
    return MsiViewModify(view.get(), MSIMODIFY_INSERT, record.get());
  }
};

TEST_F(MsiApiWrite, InsertWithoutACommitIsLost) {
  EXPECT_EQ(ERROR_SUCCESS, InsertProperty(OpenDatabase(copy_.path(), MSIDBOPEN_DIRECT).get(), L"UNCOMMITTED", L"1"));
  ASSERT_TRUE(copy_.exists());
  UniqueMsiHandle database = OpenDatabase(copy_.path());
  EXPECT_EQ(L"<none>", PropertyValue(database.get(), L"UNCOMMITTED"));
  EXPECT_EQ(L"Heron Backup", PropertyValue(database.get(), L"ProductName"));
}

TEST_F(MsiApiWrite, CommitWithAnOutputFileLeavesThePackageAlone) {
  const std::wstring output = (copy_.folder() / "output.msi").wstring();
  const std::uintmax_t size = copy_.size();
  {
    UniqueMsiHandle database = OpenDatabase(copy_.path(), output.c_str());
    EXPECT_EQ(ERROR_SUCCESS, InsertProperty(database.get(), L"AGREED", L"1"));
    EXPECT_EQ(ERROR_SUCCESS, MsiDatabaseCommit(database.get()));
  }
  EXPECT_EQ(size, copy_.size());
  UniqueMsiHandle original = OpenDatabase(copy_.path());
  EXPECT_EQ(L"<none>", PropertyValue(original.get(), L"AGREED"));
  UniqueMsiHandle written = OpenDatabase(output);
  EXPECT_EQ(L"1", PropertyValue(written.get(), L"AGREED"));
  EXPECT_EQ(L"Heron Backup", PropertyValue(written.get(), L"ProductName"));
}

TEST_F(MsiApiWrite, FailedOpenDoesNotTouchTheOutputFile) {
  const std::filesystem::path output = copy_.folder() / "existing.msi";
  std::filesystem::copy_file(std::filesystem::path(copy_.path()), output);
  MSIHANDLE handle = 0;
  EXPECT_NE(ERROR_SUCCESS, MsiOpenDatabaseW((copy_.folder() / "missing.msi").wstring().c_str(),
                                            output.wstring().c_str(), &handle));
  EXPECT_NE(ERROR_SUCCESS, MsiOpenDatabaseW(PackagePath(L"not_msi.msi").c_str(), output.wstring().c_str(), &handle));
  EXPECT_TRUE(std::filesystem::exists(output));
  if (!kWine) {  // Wine has overwritten the output file by the time the open fails
    UniqueMsiHandle database = OpenDatabase(output.wstring());
    EXPECT_EQ(L"Heron Backup", PropertyValue(database.get(), L"ProductName"));
  }
}

// MSIDBOPEN_PATCHFILE is a pointer offset added to a mode (32 bytes whatever wchar_t's size);
// msi.dll tells a patch by its storage's class, which the copy is given.
TEST_F(MsiApiWrite, PatchModeOpensPatchFilesOnly) {
  const std::filesystem::path path(copy_.path());
  std::string bytes{std::istreambuf_iterator<char>(std::ifstream(path, std::ios::binary).rdbuf()),
                    std::istreambuf_iterator<char>()};
  const std::size_t at = bytes.find(std::string("\x84\x10\x0C\0\0\0\0\0\xC0\0\0\0\0\0\0\x46", 16));
  ASSERT_NE(std::string::npos, at);
  bytes[at] = '\x86';  // {000C1084-...}, a database, becomes {000C1086-...}, a patch
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
  EXPECT_TRUE(OpenDatabase(copy_.path(), MSIDBOPEN_READONLY + MSIDBOPEN_PATCHFILE));
  MSIHANDLE handle = 0;
  EXPECT_EQ(ERROR_OPEN_FAILED,
            MsiOpenDatabaseW(PackagePath(L"plain.msi").c_str(), MSIDBOPEN_READONLY + MSIDBOPEN_PATCHFILE, &handle));
}

TEST_F(MsiApiWrite, ReadOnlyDatabaseRefusesInserts) {
  UniqueMsiHandle database = OpenDatabase(copy_.path());
  // Wine inserts into a read-only database (in memory only); msi.dll's insert fails there.
  EXPECT_EQ(kWine ? ERROR_SUCCESS : ERROR_FUNCTION_FAILED, InsertProperty(database.get(), L"AGREED", L"1"));
  EXPECT_EQ(ERROR_SUCCESS, MsiDatabaseCommit(database.get()));
  EXPECT_EQ(L"<none>", PropertyValue(OpenDatabase(copy_.path()).get(), L"AGREED"));
}

TEST_F(MsiApiWrite, DeleteRemovesTheFetchedRowAndFetchingGoesOn) {
  UniqueMsiHandle database = OpenDatabase(copy_.path(), MSIDBOPEN_DIRECT);
  const std::vector<std::wstring> before = Column(database.get(), L"SELECT `Property` FROM `Property`");
  ASSERT_GE(before.size(), 3u);
  {
    UniqueMsiHandle view = OpenView(database.get(), L"SELECT `Property`, `Value` FROM `Property`");
    ASSERT_TRUE(Fetch(view.get()));
    UniqueMsiHandle second = Fetch(view.get());
    ASSERT_TRUE(second);
    EXPECT_EQ(before[1], FieldText(second.get(), 1));
    EXPECT_EQ(ERROR_SUCCESS, MsiViewModify(view.get(), MSIMODIFY_DELETE, second.get()));
    if (!kWine) {
      // A deleted row cannot be deleted again (Wine deletes the row before it instead).
      EXPECT_EQ(ERROR_FUNCTION_FAILED, MsiViewModify(view.get(), MSIMODIFY_DELETE, second.get()));
      // Only fetched rows can be deleted (Wine deletes the row fetched last instead).
      UniqueMsiHandle made(MsiCreateRecord(2));
      MsiRecordSetStringW(made.get(), 1, before[0].c_str());
      EXPECT_EQ(ERROR_FUNCTION_FAILED, MsiViewModify(view.get(), MSIMODIFY_DELETE, made.get()));
    }
    UniqueMsiHandle third = Fetch(view.get());
    ASSERT_TRUE(third);
    EXPECT_EQ(before[2], FieldText(third.get(), 1));
  }
  std::vector<std::wstring> expected = before;
  expected.erase(expected.begin() + 1);
  EXPECT_EQ(expected, Column(database.get(), L"SELECT `Property` FROM `Property`"));
}

}  // namespace
