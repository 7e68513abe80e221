#include "package_check/package_check.h"

#include <dlfcn.h>
#include <link.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <string_view>
#include <tuple>
#include <vector>

#include "engine/package_tables.h"
#include "api/msi_objects.h"
#include "ovra/strings.h"
#include "platform/child_process.h"
#include "platform/msi_diagnostics.h"

namespace linux_msi {
namespace {

namespace fs = std::filesystem;

// The helper's file name; it ships in the folder of the module holding this library.
constexpr char kHelperName[] = "msi_package_check";
// The helper's time limit: enough to read every stream of a large package.
constexpr std::chrono::seconds kTimeLimitBase{10};
constexpr off_t kBytesPerExtraSecond = off_t{8} << 20;
constexpr std::size_t kMaxCachedVerdicts = 4096;
// The number of times a file that changes while it is checked is checked again.
constexpr int kCheckAttempts = 3;

std::atomic<bool> trust_all{false};

// Device, inode, size, modification and change times, and for a file changed
// lately a hash of its content (see FreshContentHash).
using FileIdentity = std::tuple<dev_t, ino_t, off_t, time_t, long, time_t, long, std::size_t>;

// A file changed this close to now may change again within the same time-stamp
// tick (file systems stamp coarsely, FAT to 2 s) and keep size and times.
constexpr std::chrono::seconds kSettledAge{2};

// 0 for a file whose last change is older than kSettledAge; otherwise a hash of
// its content (never 0), so that such a change still gives a new identity.
std::size_t FreshContentHash(const std::string& path, const struct stat& st) {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  const auto age = std::chrono::seconds(now.tv_sec - st.st_ctim.tv_sec) +
                   std::chrono::nanoseconds(now.tv_nsec - st.st_ctim.tv_nsec);
  if (age >= kSettledAge) {
    return 0;
  }
  std::ifstream in(path, std::ios::binary);
  std::string chunk(std::size_t{1} << 20, '\0');
  std::size_t hash = 1469598103934665603u;
  while (in.read(&chunk[0], static_cast<std::streamsize>(chunk.size())) || in.gcount() > 0) {
    const std::size_t part = std::hash<std::string_view>()(std::string_view(chunk.data(), in.gcount()));
    hash = (hash ^ part) * 1099511628211u;
  }
  return hash == 0 ? 1 : hash;
}

FileIdentity IdentityOf(const std::string& path, const struct stat& st) {
  return {st.st_dev,         st.st_ino,          st.st_size,         st.st_mtim.tv_sec,
          st.st_mtim.tv_nsec, st.st_ctim.tv_sec, st.st_ctim.tv_nsec, FreshContentHash(path, st)};
}

// The helper beside the module (shared library or program) that holds this code.
std::string HelperPath() {
  Dl_info info{};
  link_map* module = nullptr;
  std::string path = "/proc/self/exe";  // the main program's link map has an empty name
  if (dladdr1(reinterpret_cast<void*>(&MayReadPackageFile), &info, reinterpret_cast<void**>(&module),
              RTLD_DL_LINKMAP) != 0 &&
      module && module->l_name && module->l_name[0]) {
    path = module->l_name;
  }
  std::error_code error;
  const fs::path resolved = fs::canonical(path, error);
  return ((error ? fs::path(path) : resolved).parent_path() / kHelperName).string();
}

void Report(const std::string& text) { platform::ReportMsiDiagnostic("package check: " + text); }

// Runs the helper on the file: true when it read everything and ended normally.
bool HelperReadsFile(const std::string& path, off_t size) {
  static const std::string helper = HelperPath();
  platform::ChildProcess process;
  if (const platform::ErrorCode error =
          process.Start({ovra::WideFromUtf8(helper), ovra::WideFromUtf8(path)}, L"", L"/dev/null")) {
    Report("cannot run " + helper + " (error " + std::to_string(error) + "): " + path + " is not opened");
    return false;
  }
  const auto limit = kTimeLimitBase + std::chrono::seconds(size / kBytesPerExtraSecond);
  std::uint32_t exit_code = 0;
  const platform::ErrorCode waited = process.Wait(exit_code, limit);
  if (waited == platform::kErrorTimeout) {
    process.Terminate();
    process.Wait(exit_code);
    Report(path + " is unreadable: reading it did not end within " + std::to_string(limit.count()) + " s");
    return false;
  }
  if (waited != platform::kErrorSuccess || exit_code != 0) {
    const std::string how = waited != platform::kErrorSuccess ? "the wait failed (error " + std::to_string(waited) + ")"
                            : exit_code > 128 ? "reading it ended with signal " + std::to_string(exit_code - 128)
                                              : "reading it ended with exit code " + std::to_string(exit_code);
    Report(path + " is unreadable: " + how);
    return false;
  }
  return true;
}

class VerdictCache {
 public:
  bool MayRead(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
      return false;
    }
    for (int attempt = 0; attempt < kCheckAttempts; ++attempt) {
      const FileIdentity identity = IdentityOf(path, st);
      {
        std::lock_guard<std::mutex> lock(mutex_);
        if (const auto known = verdicts_.find(identity); known != verdicts_.end()) {
          return known->second;
        }
      }
      // Without the lock: a file that hangs the helper holds up no other open.
      const bool verdict = HelperReadsFile(path, st.st_size);
      if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        return false;
      }
      if (IdentityOf(path, st) == identity) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (verdicts_.size() >= kMaxCachedVerdicts) {
          verdicts_.clear();
        }
        verdicts_.emplace(identity, verdict);
        return verdict;
      }
    }
    Report(path + " kept changing while it was checked: it is not opened");
    return false;
  }

 private:
  std::mutex mutex_;
  std::map<FileIdentity, bool> verdicts_;
};

// --- The helper's reads ---

class OwnedHandle {
 public:
  OwnedHandle() = default;
  ~OwnedHandle() { MsiCloseHandle(handle_); }
  OwnedHandle(const OwnedHandle&) = delete;
  OwnedHandle& operator=(const OwnedHandle&) = delete;
  MSIHANDLE* out() { return &handle_; }
  MSIHANDLE get() const { return handle_; }

 private:
  MSIHANDLE handle_ = 0;
};

// Runs a query through the C API and reads every field of every row, which it returns as text.
std::vector<std::vector<std::wstring>> ReadRows(MSIHANDLE database, const std::wstring& sql) {
  std::vector<std::vector<std::wstring>> rows;
  OwnedHandle view;
  if (MsiDatabaseOpenViewW(database, sql.c_str(), view.out()) != ERROR_SUCCESS ||
      MsiViewExecute(view.get(), 0) != ERROR_SUCCESS) {
    return rows;
  }
  while (true) {
    OwnedHandle record;
    if (MsiViewFetch(view.get(), record.out()) != ERROR_SUCCESS) {
      break;
    }
    std::vector<std::wstring>& row = rows.emplace_back();
    const UINT count = MsiRecordGetFieldCount(record.get());
    for (UINT field = 0; field <= count; ++field) {
      MsiRecordIsNull(record.get(), field);
      MsiRecordGetInteger(record.get(), field);
      row.push_back(RecordFieldText(record.get(), field));
    }
  }
  return rows;
}

std::wstring Quoted(const std::wstring& name) { return L"`" + name + L"`"; }

void ReadSummary(MSIHANDLE database) {
  OwnedHandle summary;
  if (MsiGetSummaryInformationW(database, nullptr, 0, summary.out()) != ERROR_SUCCESS) {
    return;
  }
  for (UINT property = 0; property < 20; ++property) {
    UINT type = 0;
    INT number = 0;
    FILETIME time{};
    wchar_t text[512];
    DWORD size = sizeof text / sizeof text[0];
    MsiSummaryInfoGetPropertyW(summary.get(), property, &type, &number, &time, text, &size);
  }
}

void ReadStream(LibmsiRecord* record, guint field) {
  GObjectPtr<GInputStream> stream(libmsi_record_get_stream(record, field));
  char buffer[65536];
  while (stream && g_input_stream_read(stream.get(), buffer, sizeof buffer, nullptr, nullptr) > 0) {
  }
}

// What the C API reaches only through libmsi: column names and primary keys (for
// MsiViewModify), and stream contents (for the engine's cabinet copies).
void ReadThroughLibmsi(MSIHANDLE handle, const std::vector<std::wstring>& tables) {
  const std::shared_ptr<DatabaseObject> database = HandleTable::Instance().Find<DatabaseObject>(handle);
  if (!database) {
    return;
  }
  std::lock_guard<std::mutex> lock(database->mutex());
  for (const std::wstring& table : tables) {
    const std::string name = ovra::Utf8FromWide(table);
    PrimaryKeys(database->get(), name.c_str());
    GObjectPtr<LibmsiQuery> query(libmsi_query_new(database->get(), ("SELECT * FROM `" + name + "`").c_str(), nullptr));
    if (query) {
      ColumnInfo(query.get(), LIBMSI_COL_INFO_NAMES);
    }
  }
  GObjectPtr<LibmsiQuery> streams(libmsi_query_new(database->get(), "SELECT `Name`, `Data` FROM `_Streams`", nullptr));
  if (!streams || !libmsi_query_execute(streams.get(), nullptr, nullptr)) {
    return;
  }
  while (GObjectPtr<LibmsiRecord> row{libmsi_query_fetch(streams.get(), nullptr)}) {
    ReadStream(row.get(), 2);
  }
}

// A table can be queried by any name that _Tables or _Columns holds: libmsi loads
// it from its _Columns rows either way. Each is read whole, and by its columns' names.
void ReadDatabase(const std::wstring& path, LPCWSTR mode) {
  OwnedHandle database;
  if (MsiOpenDatabaseW(path.c_str(), mode, database.out()) != ERROR_SUCCESS) {
    return;
  }
  ReadSummary(database.get());
  std::map<std::wstring, std::wstring> tables;  // name -> its column list for a SELECT
  for (const auto& row : ReadRows(database.get(), L"SELECT `Name` FROM `_Tables`")) {
    tables[row.at(1)];
  }
  for (const auto& row : ReadRows(database.get(), L"SELECT `Table`, `Name` FROM `_Columns`")) {
    std::wstring& columns = tables[row.at(1)];
    columns += (columns.empty() ? L"" : L", ") + Quoted(row.at(2));
  }
  for (const wchar_t* system : {L"_Tables", L"_Columns", L"_Streams", L"_Storages"}) {
    tables[system];
  }
  std::vector<std::wstring> names;
  for (const auto& [table, columns] : tables) {
    names.push_back(table);
    ReadRows(database.get(), L"SELECT * FROM " + Quoted(table));
    if (!columns.empty()) {
      ReadRows(database.get(), L"SELECT " + columns + L" FROM " + Quoted(table));
    }
  }
  ReadThroughLibmsi(database.get(), names);
}

// The engine's reads: its tables, then each embedded cabinet copied to a file.
void ReadAsEngine(const std::string& path) {
  PackageTables tables;
  if (ReadPackageTables(path, tables) != ERROR_SUCCESS) {
    return;
  }
  std::string folder = (fs::temp_directory_path() / "msi_package_check.XXXXXX").string();
  if (!mkdtemp(folder.data())) {
    return;
  }
  for (const PackageTables::Media& media : tables.media) {
    if (!media.cabinet.empty() && media.cabinet[0] == L'#') {
      SavePackageStream(path, media.cabinet.substr(1), folder + "/cabinet");
    }
  }
  std::error_code ignored;
  fs::remove_all(folder, ignored);
}

}  // namespace

bool MayReadPackageFile(const std::string& path) {
  if (trust_all.load()) {
    return true;
  }
  static VerdictCache* cache = new VerdictCache;  // outlives static destructors that open packages
  return cache->MayRead(path);
}

void ExercisePackageFile(const std::string& path) {
  const std::wstring wide = ovra::WideFromUtf8(path);
  ReadDatabase(wide, MSIDBOPEN_READONLY);
  ReadDatabase(wide, MSIDBOPEN_READONLY + MSIDBOPEN_PATCHFILE);
  ReadAsEngine(path);
}

void TrustPackageFilesInThisProcess() { trust_all.store(true); }

}  // namespace linux_msi
