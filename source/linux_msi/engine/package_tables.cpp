#include "engine/package_tables.h"

#include <sys/stat.h>

#include <algorithm>
#include <functional>
#include <set>

#include "api/msi_objects.h"
#include "ovra/strings.h"

namespace linux_msi {
namespace {

// One fetched row: text and integer access by 1-based field.
class Row {
 public:
  explicit Row(LibmsiRecord* record) : record_(record) {}
  std::wstring Text(guint field) const {
    gchar* text = libmsi_record_get_string(record_, field);
    std::wstring value = text ? ovra::WideFromUtf8(text) : std::wstring();
    g_free(text);
    return value;
  }
  int Int(guint field, int null_value = 0) const {
    return libmsi_record_is_null(record_, field) ? null_value : libmsi_record_get_int(record_, field);
  }

 private:
  LibmsiRecord* record_;
};

// Runs a SELECT and hands each row over; a missing table gives no rows.
void ForEachRow(LibmsiDatabase* database, const char* sql, const std::function<void(const Row&)>& visit) {
  GObjectPtr<LibmsiQuery> query(libmsi_query_new(database, sql, nullptr));
  if (!query || !libmsi_query_execute(query.get(), nullptr, nullptr)) {
    return;
  }
  while (GObjectPtr<LibmsiRecord> record{libmsi_query_fetch(query.get(), nullptr)}) {
    visit(Row(record.get()));
  }
}

std::set<std::string> TableNames(LibmsiDatabase* database) {
  std::set<std::string> names;
  ForEachRow(database, "SELECT `Name` FROM `_Tables`",
             [&](const Row& row) { names.insert(ovra::Utf8FromWide(row.Text(1))); });
  return names;
}

GObjectPtr<LibmsiDatabase> OpenReadOnly(const std::string& path, UINT& error) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
    error = ERROR_FILE_NOT_FOUND;
    return nullptr;
  }
  GObjectPtr<LibmsiDatabase> database = OpenLibmsiDatabase(path, LIBMSI_DB_FLAGS_READONLY, nullptr, nullptr);
  error = database ? ERROR_SUCCESS : ERROR_INSTALL_PACKAGE_INVALID;
  return database;
}

// A folder's name joins its parent's path: one component that stays inside it
// ("." is the parent itself). A file's name must name a file there.
bool IsFolderName(const std::wstring& name) {
  return name != L".." && name.find_first_of(L"/\\") == std::wstring::npos;
}
bool IsFileName(const std::wstring& name) { return !name.empty() && name != L"." && IsFolderName(name); }

}  // namespace

std::wstring LongName(const std::wstring& name) {
  const std::size_t bar = name.find(L'|');
  return bar == std::wstring::npos ? name : name.substr(bar + 1);
}

std::wstring TargetName(const std::wstring& default_dir) {
  const std::size_t colon = default_dir.find(L':');
  return LongName(colon == std::wstring::npos ? default_dir : default_dir.substr(0, colon));
}

UINT ReadPackageTables(const std::string& path, PackageTables& t) {
  UINT error = ERROR_SUCCESS;
  GObjectPtr<LibmsiDatabase> owner = OpenReadOnly(path, error);
  if (!owner) {
    return error;
  }
  LibmsiDatabase* database = owner.get();
  // Every package has these; their absence means this is no installation package.
  const std::set<std::string> tables = TableNames(database);
  if (!tables.count("Property") || !tables.count("InstallExecuteSequence")) {
    return ERROR_INSTALL_PACKAGE_INVALID;
  }
  // Reads a table the package has; libmsi warns on stderr about a missing one.
  auto read = [&](const char* table, const char* sql, const std::function<void(const Row&)>& visit) {
    if (tables.count(table)) {
      ForEachRow(database, sql, visit);
    }
  };

  t = PackageTables();
  read("Property", "SELECT `Property`, `Value` FROM `Property`",
             [&](const Row& r) { t.properties.emplace_back(r.Text(1), r.Text(2)); });
  read("Directory", "SELECT `Directory`, `Directory_Parent`, `DefaultDir` FROM `Directory`",
             [&](const Row& r) { t.directories.push_back({r.Text(1), r.Text(2), r.Text(3)}); });
  read("Feature", "SELECT `Feature`, `Feature_Parent`, `Title`, `Description`, `Directory_`, `Display`, `Level`, "
             "`Attributes` FROM `Feature`",
             [&](const Row& r) {
               t.features.push_back({r.Text(1), r.Text(2), r.Text(3), r.Text(4), r.Text(5), r.Int(6), r.Int(7),
                                     r.Int(8)});
             });
  read("FeatureComponents", "SELECT `Feature_`, `Component_` FROM `FeatureComponents`",
             [&](const Row& r) { t.feature_components.emplace_back(r.Text(1), r.Text(2)); });
  read("Component", "SELECT `Component`, `ComponentId`, `Directory_`, `Condition`, `KeyPath`, `Attributes` FROM "
             "`Component`",
             [&](const Row& r) {
               t.components.push_back({r.Text(1), r.Text(2), r.Text(3), r.Text(4), r.Text(5), r.Int(6)});
             });
  read("File", "SELECT `File`, `Component_`, `FileName`, `FileSize`, `Attributes`, `Sequence` FROM `File`",
             [&](const Row& r) {
               t.files.push_back({r.Text(1), r.Text(2), r.Text(3), r.Int(4), r.Int(5), r.Int(6)});
             });
  read("Media", "SELECT `DiskId`, `LastSequence`, `Cabinet` FROM `Media`",
             [&](const Row& r) { t.media.push_back({r.Int(1), r.Int(2), r.Text(3)}); });
  read("CustomAction", "SELECT `Action`, `Source`, `Target`, `Type` FROM `CustomAction`",
             [&](const Row& r) { t.custom_actions.push_back({r.Text(1), r.Text(2), r.Text(3), r.Int(4)}); });
  read("InstallExecuteSequence", "SELECT `Action`, `Condition`, `Sequence` FROM `InstallExecuteSequence`", [&](const Row& r) {
    // A null Sequence keeps the action out of the sequence.
    const int sequence = r.Int(3, -1);
    if (sequence >= 0) {
      t.execute_sequence.push_back({r.Text(1), r.Text(2), sequence});
    }
  });
  // A damaged (or hostile) package must not place a file outside its folders.
  const bool names_stay_inside =
      std::all_of(t.directories.begin(), t.directories.end(),
                  [](const auto& row) { return IsFolderName(TargetName(row.default_dir)); }) &&
      std::all_of(t.files.begin(), t.files.end(), [](const auto& row) { return IsFileName(LongName(row.file_name)); });
  if (!names_stay_inside) {
    return ERROR_INSTALL_PACKAGE_INVALID;
  }
  std::stable_sort(t.execute_sequence.begin(), t.execute_sequence.end(),
                   [](const auto& a, const auto& b) { return a.sequence < b.sequence; });
  read("Upgrade", "SELECT `UpgradeCode`, `VersionMin`, `VersionMax`, `Language`, `Remove`, `ActionProperty`, "
             "`Attributes` FROM `Upgrade`",
             [&](const Row& r) {
               t.upgrades.push_back({r.Text(1), r.Text(2), r.Text(3), r.Text(4), r.Text(5), r.Text(6), r.Int(7)});
             });
  read("LaunchCondition", "SELECT `Condition`, `Description` FROM `LaunchCondition`",
             [&](const Row& r) { t.launch_conditions.push_back({r.Text(1), r.Text(2)}); });
  read("Registry", "SELECT `Registry`, `Key`, `Name`, `Value`, `Component_`, `Root` FROM `Registry`",
             [&](const Row& r) {
               t.registry.push_back({r.Text(1), r.Text(2), r.Text(3), r.Text(4), r.Text(5), r.Int(6)});
             });
  read("Condition", "SELECT `Feature_`, `Condition`, `Level` FROM `Condition`",
             [&](const Row& r) { t.feature_conditions.push_back({r.Text(1), r.Text(2), r.Int(3)}); });
  read("ActionText", "SELECT `Action`, `Description`, `Template` FROM `ActionText`",
             [&](const Row& r) { t.action_texts[r.Text(1)] = {r.Text(2), r.Text(3)}; });

  GObjectPtr<LibmsiSummaryInfo> summary(libmsi_summary_info_new(database, 0, nullptr));
  if (summary) {
    auto text = [&](int property) -> std::wstring {
      if (libmsi_summary_info_get_property_type(summary.get(), static_cast<LibmsiProperty>(property), nullptr) !=
          LIBMSI_PROPERTY_TYPE_STRING) {
        return {};
      }
      const gchar* value =
          libmsi_summary_info_get_string(summary.get(), static_cast<LibmsiProperty>(property), nullptr);
      return value ? ovra::WideFromUtf8(value) : std::wstring();
    };
    t.package_code = text(LIBMSI_PROPERTY_UUID);
    t.template_text = text(LIBMSI_PROPERTY_TEMPLATE);
  }
  return ERROR_SUCCESS;
}

UINT SavePackageStream(const std::string& package_path, const std::wstring& stream, const std::string& file) {
  UINT error = ERROR_SUCCESS;
  GObjectPtr<LibmsiDatabase> database = OpenReadOnly(package_path, error);
  if (!database) {
    return error;
  }
  GObjectPtr<LibmsiQuery> query(
      libmsi_query_new(database.get(), "SELECT `Data` FROM `_Streams` WHERE `Name` = ?", nullptr));
  GObjectPtr<LibmsiRecord> key(libmsi_record_new(1));
  if (!query || !key || !libmsi_record_set_string(key.get(), 1, ovra::Utf8FromWide(stream).c_str()) ||
      !libmsi_query_execute(query.get(), key.get(), nullptr)) {
    return ERROR_INSTALL_PACKAGE_INVALID;
  }
  GObjectPtr<LibmsiRecord> row(libmsi_query_fetch(query.get(), nullptr));
  if (!row) {
    return ERROR_FILE_NOT_FOUND;
  }
  GObjectPtr<GInputStream> input(libmsi_record_get_stream(row.get(), 1));
  GObjectPtr<GFile> target(g_file_new_for_path(file.c_str()));
  GObjectPtr<GFileOutputStream> output(
      g_file_replace(target.get(), nullptr, FALSE, G_FILE_CREATE_NONE, nullptr, nullptr));
  if (!input || !output) {
    return ERROR_INSTALL_FAILURE;
  }
  const gssize copied = g_output_stream_splice(G_OUTPUT_STREAM(output.get()), input.get(),
                                               G_OUTPUT_STREAM_SPLICE_CLOSE_TARGET, nullptr, nullptr);
  return copied < 0 ? ERROR_INSTALL_FAILURE : ERROR_SUCCESS;
}

}  // namespace linux_msi
