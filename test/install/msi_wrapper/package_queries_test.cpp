// Package queries: plain.msi is ordinary, edge.msi has the unusual rows (test/packages/edge).
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <tuple>

#include "msi_wrapper/msi_database.h"
#include "msi_wrapper/msi_handle.h"
#include "msi_wrapper/package_queries.h"
#include "ovra/strings.h"
#include "platform/paths.h"
#include "test_packages.h"

namespace {

using namespace installer::msi_wrapper;
using msi_test::PackagePath;

class PackageQueries : public ::testing::Test {
 protected:
  static UniqueMsiHandle Open(const wchar_t* name) {
    MSIHANDLE handle = 0;
    EXPECT_EQ(ERROR_SUCCESS, MsiOpenDatabaseW(PackagePath(name).c_str(), MSIDBOPEN_READONLY, &handle));
    return UniqueMsiHandle(handle);
  }

  // Field 1 of each row, in the order the installer returns them.
  std::vector<std::wstring> Column(const wchar_t* query) {
    UINT error = 0;
    auto database = OpenMsiDatabase(PackagePath(L"edge.msi"), error);
    std::unique_ptr<MsiView> view;
    EXPECT_EQ(ERROR_SUCCESS, database->OpenView(query, view));
    std::vector<std::wstring> values;
    while (auto record = view ? view->Fetch() : nullptr) values.push_back(record->GetString(1));
    return values;
  }

  UniqueMsiHandle plain_ = Open(L"plain.msi");
  UniqueMsiHandle edge_ = Open(L"edge.msi");
};

const ProductFeature* Find(const std::vector<ProductFeature>& features, const std::wstring& name) {
  auto found = std::find_if(features.begin(), features.end(), [&](const ProductFeature& f) { return f.name == name; });
  return found == features.end() ? nullptr : &*found;
}

TEST_F(PackageQueries, PackageInfoReadsThePackageCode) {
  auto plain = CreateMsiPackageInfo(PackagePath(L"plain.msi"));
  EXPECT_TRUE(plain->IsValid());
  EXPECT_EQ(L"{5D2A7F10-3E4B-4C8D-9F61-0A1B2C3D4E50}", plain->GetPackageCode());
  EXPECT_EQ(L"{C1D2E3F4-A5B6-4C7D-8E9F-0A1B2C3D4E5F}", CreateMsiPackageInfo(PackagePath(L"edge.msi"))->GetPackageCode());

  for (const wchar_t* name : {L"missing.msi", L"not_msi.msi", L"truncated_half.msi"}) {
    auto info = CreateMsiPackageInfo(PackagePath(name));
    ASSERT_NE(nullptr, info) << name;
    EXPECT_FALSE(info->IsValid()) << name;
    EXPECT_EQ(L"", info->GetPackageCode()) << name;
  }
}

TEST_F(PackageQueries, PropertyValues) {
  std::wstring digits;  // LONGVALUE: longer than a first read's buffer
  for (int i = 0; i < 300; ++i) digits += static_cast<wchar_t>(L'0' + i % 10);
  const struct { const wchar_t* name; UINT result; std::wstring value; } rows[] = {
      {L"EMPTYVALUE", ERROR_SUCCESS, L""},  // defined empty and not defined: different codes
      {L"UNDEFINED", ERROR_NO_MORE_ITEMS, L""},
      {L"LONGVALUE", ERROR_SUCCESS, digits},
      {L"UNICODEVALUE", ERROR_SUCCESS, L"Gr\u00fc\u00dfe \u2713 \U0001D11E"},
      // Names are looked up literally: pasted into the SQL text, the second would
      // select ProductName instead.
      {L"IT'S", ERROR_SUCCESS, L"quoted name"},
      {L"X' OR Property.Property='ProductName", ERROR_SUCCESS, L"decoy"},
      {L"NOPE' OR '1'='1", ERROR_NO_MORE_ITEMS, L""},
      {L"productname", ERROR_NO_MORE_ITEMS, L""},  // case counts
  };
  for (const auto& row : rows) {
    std::wstring value = L"stale";
    EXPECT_EQ(row.result, QueryProperty(edge_.get(), row.name, value)) << row.name;
    EXPECT_EQ(row.value, value) << row.name;
  }
  std::wstring value;
  EXPECT_EQ(ERROR_SUCCESS, QueryProperty(plain_.get(), L"ProductName", value));
  EXPECT_EQ(L"Heron Backup", value);
}

// A path written with '/' in the system's own separators.
std::wstring WithSeparators(std::wstring path) {
  std::replace(path.begin(), path.end(), L'/', platform::kPathSeparator);
  return path;
}

TEST_F(PackageQueries, DirectoryPaths) {
  const struct { const wchar_t* directory; UINT result; const wchar_t* path; } cases[] = {
      {L"INSTALLDIR", ERROR_SUCCESS, L"Egret Labs/Suite Tools/"},  // short|long names give the long one
      {L"VendorDir", ERROR_SUCCESS, L"Egret Labs/"},
      {L"PLUGINDIR", ERROR_SUCCESS, L"Egret Labs/Suite Tools/plugins/"},
      {L"PIPEDIR", ERROR_SUCCESS, L"Egret Labs/Suite Tools/b|c/"},  // only the first bar splits
      {L"O'DIR", ERROR_SUCCESS, L"Egret Labs/Suite Tools/quoted/"},
      {L"TOPDIR", ERROR_SUCCESS, L""},  // directly under TARGETDIR
      {L"ProgramFilesFolder", ERROR_SUCCESS, L""},
      {L"ROOTLESS", ERROR_SUCCESS, L""},
      {L"UNKNOWN", ERROR_NO_MORE_ITEMS, L""},
      {L"ORPHAN", ERROR_NO_MORE_ITEMS, L"Orphan/"},  // the parent row is missing
      {L"LOOP_A", ERROR_INVALID_DATA, L"Loop C/Loop B/Loop A/"},
      {L"SELF", ERROR_INVALID_DATA, L"Self/"},
  };
  for (const auto& c : cases) {
    std::wstring path;
    EXPECT_EQ(c.result, ResolveDirectoryPath(edge_.get(), c.directory, path)) << c.directory;
    EXPECT_EQ(WithSeparators(c.path), path) << c.directory;
  }

  std::wstring path = L"core.txt";  // the path given is appended
  EXPECT_EQ(ERROR_SUCCESS, ResolveDirectoryPath(edge_.get(), L"INSTALLDIR", path));
  EXPECT_EQ(WithSeparators(L"Egret Labs/Suite Tools/core.txt"), path);
}

TEST_F(PackageQueries, FeaturesWithConditions) {
  std::vector<ProductFeature> features(3);
  ASSERT_EQ(ERROR_SUCCESS, ReadProductFeatures(edge_.get(), features));
  ASSERT_EQ(6u, features.size());

  // Display: 0 and null hide a feature, any other number (here 1, 2, -1, 5) shows it.
  for (const auto& [name, visible] : std::map<std::wstring, bool>{
           {L"Core", true}, {L"Plugins", true}, {L"Hidden", false}, {L"Mirror", true}, {L"NoDisplay", false},
           {L"Docs", true}}) {
    ASSERT_NE(nullptr, Find(features, name)) << ovra::Utf8FromWide(name);
    EXPECT_EQ(visible, Find(features, name)->visible) << ovra::Utf8FromWide(name);
  }
  const ProductFeature* core = Find(features, L"Core");
  EXPECT_EQ(std::make_tuple(L"", L"Core tools", L"The main program", 1, L"", 0),
            std::make_tuple(core->parentName, core->displayName, core->description, core->defaultInstallLevel,
                            core->activeInstallLevel.condition, core->activeInstallLevel.installLevel));
  EXPECT_TRUE(core->enabled);

  const ProductFeature* plugins = Find(features, L"Plugins");
  EXPECT_EQ(std::make_tuple(L"Core", 3), std::make_tuple(plugins->parentName, plugins->defaultInstallLevel));
  // Plugins has two Condition rows: the later one in table order wins.
  const std::vector<std::wstring> order = Column(L"SELECT `Level` FROM `Condition` WHERE `Feature_` = 'Plugins'");
  ASSERT_EQ(2u, order.size());
  const bool second_last = order.back() == L"5";
  EXPECT_EQ(second_last ? L"VersionNT >= 600" : L"NOT PLUGINS_ALLOWED", plugins->activeInstallLevel.condition);
  EXPECT_EQ(second_last ? 5 : 0, plugins->activeInstallLevel.installLevel);

  const ProductFeature* docs = Find(features, L"Docs");
  EXPECT_EQ(std::make_tuple(L"DOCS=\"1\"", 1),
            std::make_tuple(docs->activeInstallLevel.condition, docs->activeInstallLevel.installLevel));
  EXPECT_EQ(200, Find(features, L"NoDisplay")->defaultInstallLevel);
}

TEST_F(PackageQueries, FeaturesOfAPackageWithoutConditions) {
  std::vector<ProductFeature> features;
  EXPECT_EQ(ERROR_BAD_QUERY_SYNTAX, ReadProductFeatures(plain_.get(), features));
  ASSERT_EQ(2u, features.size());
  EXPECT_EQ(std::make_tuple(L"Main", L"Copies your files every day", true),
            std::make_tuple(features[0].name, features[0].description, features[0].visible));
  EXPECT_EQ(std::make_tuple(L"Docs", L"Main", false, 3),
            std::make_tuple(features[1].name, features[1].parentName, features[1].visible,
                            features[1].defaultInstallLevel));
}

TEST_F(PackageQueries, ConditionRows) {
  std::vector<ConditionRow> rows;
  ASSERT_EQ(ERROR_SUCCESS, ReadConditionRows(edge_.get(), rows));
  ASSERT_EQ(4u, rows.size());
  const auto ghost = std::find_if(rows.begin(), rows.end(), [](const ConditionRow& r) { return r.feature == L"Ghost"; });
  ASSERT_NE(rows.end(), ghost);
  EXPECT_EQ(3, ghost->level);
  EXPECT_EQ(L"GHOST=\"1\"", ghost->condition);
}

// Empty bounds read as the widest range.
TEST_F(PackageQueries, UpgradeRows) {
  const auto fields = [](const std::vector<UpgradeRow>& rows) {
    std::set<std::tuple<std::wstring, std::wstring, std::wstring, std::int32_t>> all;
    for (const UpgradeRow& r : rows) all.emplace(r.UpgradeCode, r.VersionMin, r.VersionMax, r.Attributes);
    return all;
  };
  const std::wstring egret = L"{2F8C1D3B-4A5E-4B6C-8D7E-9F0A1B2C3D4E}";
  std::vector<UpgradeRow> rows;
  ASSERT_EQ(ERROR_SUCCESS, ReadUpgradeRows(edge_.get(), rows));
  EXPECT_EQ(4u, rows.size());
  EXPECT_EQ(fields(rows), fields({{egret, L"0.0.0", L"99999.99999.99999", 0},
                                  {egret, L"1.0.0", L"4.0.2", 256},
                                  {egret, L"2.0", L"3.0", 770},
                                  {L"{5A6B7C8D-9E0F-4A1B-8C2D-3E4F5A6B7C8D}", L"0.5.0", L"99999.99999.99999", 512}}));
  ASSERT_EQ(ERROR_SUCCESS, ReadUpgradeRows(plain_.get(), rows));
  ASSERT_EQ(1u, rows.size());
  EXPECT_EQ(L"2.5.1", rows[0].VersionMax);
  EXPECT_EQ(256, rows[0].Attributes);
}

TEST_F(PackageQueries, ExecuteSequenceKeepsTheFirstOfEqualNumbers) {
  std::map<std::int32_t, SequenceEntry> sequence;
  ASSERT_EQ(ERROR_SUCCESS, ReadExecuteSequence(edge_.get(), sequence));
  const std::vector<std::wstring> actions = Column(L"SELECT `Action` FROM `InstallExecuteSequence`");
  ASSERT_EQ(14u, actions.size());
  EXPECT_EQ(13u, sequence.size());

  const auto first = std::find_if(actions.begin(), actions.end(),
                                   [](const std::wstring& a) { return a == L"EgretFirst" || a == L"EgretSecond"; });
  ASSERT_NE(actions.end(), first);
  EXPECT_EQ(*first, sequence.at(4500).action);
  // An empty Sequence counts as 0.
  EXPECT_EQ(std::make_tuple(L"EgretUnnumbered", L"Installed"),
            std::make_tuple(sequence.at(0).action, sequence.at(0).condition));
  EXPECT_EQ(L"InstallFinalize", sequence.rbegin()->second.action);
  EXPECT_EQ(L"", sequence.at(800).condition);
}

TEST_F(PackageQueries, CabinetNamesSkipStreamsAndEmptyNames) {
  std::vector<std::wstring> names{L"stale"};
  ASSERT_EQ(ERROR_SUCCESS, ReadCabinetNames(edge_.get(), names));
  EXPECT_EQ((std::vector<std::wstring>{L"disk3.cab", L"Extra Two.cab"}), names);
  ASSERT_EQ(ERROR_SUCCESS, ReadCabinetNames(plain_.get(), names));
  EXPECT_EQ((std::vector<std::wstring>{L"heron.cab"}), names);
}

TEST_F(PackageQueries, RoutinesReportABadHandleAndClearTheirOutput) {
  std::wstring text = L"stale";
  std::vector<ProductFeature> features(1);
  std::vector<UpgradeRow> upgrades(1);
  std::map<std::int32_t, SequenceEntry> sequence{{1, {}}};
  std::vector<std::wstring> names{L"x"};
  EXPECT_EQ(ERROR_INVALID_HANDLE, QueryProperty(0, L"ProductName", text));
  EXPECT_EQ(ERROR_INVALID_HANDLE, ReadProductFeatures(0, features));
  EXPECT_EQ(ERROR_INVALID_HANDLE, ReadUpgradeRows(0, upgrades));
  EXPECT_EQ(ERROR_INVALID_HANDLE, ReadExecuteSequence(0, sequence));
  EXPECT_EQ(ERROR_INVALID_HANDLE, ReadCabinetNames(plain_.get() + 0x1000000, names));
  EXPECT_TRUE(text.empty() && features.empty() && upgrades.empty() && sequence.empty() && names.empty());
  text = L"keep";
  EXPECT_EQ(ERROR_INVALID_HANDLE, ResolveDirectoryPath(0, L"INSTALLDIR", text));
  EXPECT_EQ(L"keep", text);
}

}  // namespace
