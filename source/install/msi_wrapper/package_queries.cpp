#include "msi_wrapper/package_queries.h"

#include <unordered_map>
#include <unordered_set>

#include "msi_wrapper/msi_database.h"
#include "msi_wrapper/msi_handle.h"
#include "msi_wrapper/wide_number.h"
#include "platform/paths.h"

namespace installer::msi_wrapper {
namespace {

// Opens and executes `query`, with `parameters` (or 0) for its '?' markers.
UINT OpenExecutedView(MSIHANDLE database, const wchar_t* query, MSIHANDLE parameters, UniqueMsiHandle& view) {
  MSIHANDLE raw = 0;
  if (const UINT result = MsiDatabaseOpenViewW(database, query, &raw)) {
    return result;
  }
  view.reset(raw);
  return MsiViewExecute(view.get(), parameters);
}

// Runs `query` and calls read(record) for each row until a failure; the end of
// the rows is success.
template <typename ReadRow>
UINT ForEachRow(MSIHANDLE database, const wchar_t* query, ReadRow read) {
  UniqueMsiHandle view;
  if (const UINT result = OpenExecutedView(database, query, 0, view)) {
    return result;
  }
  for (;;) {
    MSIHANDLE raw = 0;
    const UINT fetched = MsiViewFetch(view.get(), &raw);
    if (fetched == ERROR_NO_MORE_ITEMS) {
      return ERROR_SUCCESS;
    }
    if (fetched != ERROR_SUCCESS) {
      return fetched;
    }
    const UniqueMsiHandle record(raw);
    if (const UINT result = read(record.get())) {
      return result;
    }
  }
}

// The single row of `query` run with one string parameter.
UINT FetchOneRow(MSIHANDLE database, const wchar_t* query, const std::wstring& parameter, UniqueMsiHandle& record) {
  const UniqueMsiHandle parameters(MsiCreateRecord(1));
  if (const UINT result = MsiRecordSetStringW(parameters.get(), 1, parameter.c_str())) {
    return result;
  }
  UniqueMsiHandle view;
  if (const UINT result = OpenExecutedView(database, query, parameters.get(), view)) {
    return result;
  }
  MSIHANDLE raw = 0;
  const UINT result = MsiViewFetch(view.get(), &raw);
  record.reset(raw);
  return result;
}

UINT ReadRecordNumber(MSIHANDLE record, UINT field, std::int32_t& number) {
  std::wstring text;
  const UINT result = ReadRecordString(record, field, text);
  if (result == ERROR_SUCCESS) {
    number = ParseWideInt(text);
  }
  return result;
}

class MsiPackageInfo : public MsiPackageInfoInterface {
 public:
  explicit MsiPackageInfo(const std::wstring& path) {
    MSIHANDLE database = 0;
    open_result_ = MsiOpenDatabaseW(path.c_str(), MSIDBOPEN_READONLY, &database);
    database_.reset(open_result_ == ERROR_SUCCESS ? database : 0);
    MSIHANDLE summary = 0;
    summary_result_ = MsiGetSummaryInformationW(database_.get(), nullptr, 0, &summary);
    summary_.reset(summary_result_ == ERROR_SUCCESS ? summary : 0);
  }

  bool IsValid() const override { return open_result_ == ERROR_SUCCESS && summary_result_ == ERROR_SUCCESS; }

  std::wstring GetPackageCode() const override {
    wchar_t empty[1] = L"";
    DWORD size = 0;
    if (MsiSummaryInfoGetPropertyW(summary_.get(), PID_REVNUMBER, nullptr, nullptr, nullptr, empty, &size) !=
        ERROR_MORE_DATA) {
      return {};
    }
    std::vector<wchar_t> buffer(static_cast<std::size_t>(size) + 1, L'\0');
    size += 1;
    if (MsiSummaryInfoGetPropertyW(summary_.get(), PID_REVNUMBER, nullptr, nullptr, nullptr, buffer.data(), &size) !=
        ERROR_SUCCESS) {
      return {};
    }
    return buffer.data();
  }

 private:
  // Members go in reverse order: the summary information before the database.
  UniqueMsiHandle database_;
  UniqueMsiHandle summary_;
  UINT open_result_ = ERROR_SUCCESS;
  UINT summary_result_ = ERROR_SUCCESS;
};

}  // namespace

std::unique_ptr<MsiPackageInfoInterface> CreateMsiPackageInfo(const std::wstring& path) {
  return std::make_unique<MsiPackageInfo>(path);
}

UINT QueryProperty(MSIHANDLE database, const std::wstring& name, std::wstring& value) {
  value.clear();
  UniqueMsiHandle record;
  // The name is bound as a parameter so that any text, quotes included, is looked up literally.
  if (const UINT result =
          FetchOneRow(database, L"SELECT Property.Value FROM Property WHERE Property.Property=?", name, record)) {
    return result;
  }
  return ReadRecordString(record.get(), 1, value);
}

UINT ResolveDirectoryPath(MSIHANDLE database, const std::wstring& directory, std::wstring& path) {
  std::unordered_set<std::wstring> visited;
  std::wstring current = directory;
  for (;;) {
    if (!visited.insert(current).second) {
      return ERROR_INVALID_DATA;
    }
    UniqueMsiHandle record;
    if (const UINT result = FetchOneRow(
            database,
            L"SELECT Directory.DefaultDir,Directory.Directory_Parent FROM Directory WHERE Directory.Directory=?",
            current, record)) {
      return result;
    }
    std::wstring default_dir;
    std::wstring parent;
    if (const UINT result = ReadRecordString(record.get(), 1, default_dir)) {
      return result;
    }
    if (const UINT result = ReadRecordString(record.get(), 2, parent)) {
      return result;
    }
    if (parent.empty() || parent == L"TARGETDIR") {
      return ERROR_SUCCESS;
    }
    const std::size_t bar = default_dir.find(L'|');
    if (bar != std::wstring::npos) {
      default_dir.erase(0, bar + 1);
    }
    path = default_dir + platform::kPathSeparator + path;
    current = parent;
  }
}

UINT ReadProductFeatures(MSIHANDLE database, std::vector<ProductFeature>& features) {
  features.clear();
  const UINT read = ForEachRow(
      database,
      L"SELECT Feature.Feature,Feature.Feature_Parent,Feature.Title,Feature.Description,Feature.Display,"
      L"Feature.Level FROM Feature",
      [&features](MSIHANDLE record) -> UINT {
        ProductFeature feature;
        std::int32_t display = 0;
        UINT result = ReadRecordString(record, 1, feature.name);
        if (result == ERROR_SUCCESS) result = ReadRecordString(record, 2, feature.parentName);
        if (result == ERROR_SUCCESS) result = ReadRecordString(record, 3, feature.displayName);
        if (result == ERROR_SUCCESS) result = ReadRecordString(record, 4, feature.description);
        if (result == ERROR_SUCCESS) result = ReadRecordNumber(record, 5, display);
        if (result == ERROR_SUCCESS) result = ReadRecordNumber(record, 6, feature.defaultInstallLevel);
        if (result != ERROR_SUCCESS) {
          return result;
        }
        feature.visible = display != 0;
        features.push_back(std::move(feature));
        return ERROR_SUCCESS;
      });
  if (read != ERROR_SUCCESS) {
    return read;
  }

  std::vector<ConditionRow> conditions;
  if (const UINT result = ReadConditionRows(database, conditions)) {
    return result;
  }
  // One pass over each table: a Condition row applies to the first feature of its name.
  std::unordered_map<std::wstring, std::size_t> first_by_name;
  for (std::size_t i = 0; i < features.size(); ++i) {
    first_by_name.emplace(features[i].name, i);
  }
  for (ConditionRow& row : conditions) {
    const auto found = first_by_name.find(row.feature);
    if (found != first_by_name.end()) {
      ProductFeature::ConditionalInstallLevel& level = features[found->second].activeInstallLevel;
      level.condition = std::move(row.condition);
      level.installLevel = row.level;
    }
  }
  return ERROR_SUCCESS;
}

UINT ReadConditionRows(MSIHANDLE database, std::vector<ConditionRow>& rows) {
  rows.clear();
  return ForEachRow(database, L"SELECT Condition.Feature_,Condition.Level,Condition.Condition FROM Condition",
                    [&rows](MSIHANDLE record) -> UINT {
                      ConditionRow row;
                      UINT result = ReadRecordString(record, 1, row.feature);
                      if (result == ERROR_SUCCESS) result = ReadRecordNumber(record, 2, row.level);
                      if (result == ERROR_SUCCESS) result = ReadRecordString(record, 3, row.condition);
                      if (result == ERROR_SUCCESS) rows.push_back(std::move(row));
                      return result;
                    });
}

UINT ReadUpgradeRows(MSIHANDLE database, std::vector<UpgradeRow>& rows) {
  rows.clear();
  return ForEachRow(
      database,
      L"SELECT Upgrade.UpgradeCode,Upgrade.VersionMin,Upgrade.VersionMax,Upgrade.Attributes FROM Upgrade",
      [&rows](MSIHANDLE record) -> UINT {
        UpgradeRow row;
        std::wstring version_min;
        std::wstring version_max;
        UINT result = ReadRecordString(record, 1, row.UpgradeCode);
        if (result == ERROR_SUCCESS) result = ReadRecordString(record, 2, version_min);
        if (result == ERROR_SUCCESS) result = ReadRecordString(record, 3, version_max);
        if (result == ERROR_SUCCESS) result = ReadRecordNumber(record, 4, row.Attributes);
        if (result != ERROR_SUCCESS) {
          return result;
        }
        if (!version_min.empty()) row.VersionMin = std::move(version_min);
        if (!version_max.empty()) row.VersionMax = std::move(version_max);
        rows.push_back(std::move(row));
        return ERROR_SUCCESS;
      });
}

UINT ReadExecuteSequence(MSIHANDLE database, std::map<std::int32_t, SequenceEntry>& sequence) {
  sequence.clear();
  return ForEachRow(database,
                    L"SELECT InstallExecuteSequence.Action,InstallExecuteSequence.Condition,"
                    L"InstallExecuteSequence.Sequence FROM InstallExecuteSequence",
                    [&sequence](MSIHANDLE record) -> UINT {
                      SequenceEntry entry;
                      std::int32_t number = 0;
                      UINT result = ReadRecordString(record, 1, entry.action);
                      if (result == ERROR_SUCCESS) result = ReadRecordString(record, 2, entry.condition);
                      if (result == ERROR_SUCCESS) result = ReadRecordNumber(record, 3, number);
                      if (result == ERROR_SUCCESS) sequence.emplace(number, std::move(entry));
                      return result;
                    });
}

UINT ReadCabinetNames(MSIHANDLE database, std::vector<std::wstring>& names) {
  names.clear();
  return ForEachRow(database, L"SELECT Media.Cabinet FROM Media", [&names](MSIHANDLE record) -> UINT {
    std::wstring name;
    const UINT result = ReadRecordString(record, 1, name);
    if (result == ERROR_SUCCESS && !name.empty() && name[0] != L'#') {
      names.push_back(std::move(name));
    }
    return result;
  });
}

}  // namespace installer::msi_wrapper
