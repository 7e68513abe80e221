// Package queries over the generated packages: plain.msi is an ordinary
// package, edge.msi carries the unusual rows (see test/packages/edge/*.idt).
#include <gtest/gtest.h>

#include <algorithm>

#include "msi_wrapper/msi_database.h"
#include "msi_wrapper/msi_handle.h"
#include "msi_wrapper/package_queries.h"
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
    while (auto record = view ? view->Fetch() : nullptr) {
      values.push_back(record->GetString(1));
    }
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
  std::wstring value = L"stale";
  EXPECT_EQ(ERROR_SUCCESS, QueryProperty(plain_.get(), L"ProductName", value));
  EXPECT_EQ(L"Heron Backup", value);

  // Defined empty and not defined read the same, with different codes.
  value = L"stale";
  EXPECT_EQ(ERROR_SUCCESS, QueryProperty(edge_.get(), L"EMPTYVALUE", value));
  EXPECT_EQ(L"", value);
  value = L"stale";
  EXPECT_EQ(ERROR_NO_MORE_ITEMS, QueryProperty(edge_.get(), L"UNDEFINED", value));
  EXPECT_EQ(L"", value);

  EXPECT_EQ(ERROR_SUCCESS, QueryProperty(edge_.get(), L"LONGVALUE", value));
  EXPECT_EQ(300u, value.size());
  EXPECT_EQ(ERROR_SUCCESS, QueryProperty(edge_.get(), L"UNICODEVALUE", value));
  EXPECT_EQ(L"Gr\u00fc\u00dfe \u2713 \U0001D11E", value);
}

TEST_F(PackageQueries, PropertyNamesAreLookedUpLiterally) {
  std::wstring value;
  EXPECT_EQ(ERROR_SUCCESS, QueryProperty(edge_.get(), L"IT'S", value));
  EXPECT_EQ(L"quoted name", value);
  // Pasted into the SQL text, this name would select ProductName instead.
  EXPECT_EQ(ERROR_SUCCESS, QueryProperty(edge_.get(), L"X' OR Property.Property='ProductName", value));
  EXPECT_EQ(L"decoy", value);
  EXPECT_EQ(ERROR_NO_MORE_ITEMS, QueryProperty(edge_.get(), L"NOPE' OR '1'='1", value));
  EXPECT_EQ(ERROR_NO_MORE_ITEMS, QueryProperty(edge_.get(), L"productname", value));  // case counts
}

// A path written with '/' in the system's own separators.
std::wstring SystemPath(std::wstring path) {
  for (wchar_t& c : path) {
    if (c == L'/') c = platform::kPathSeparator;
  }
  return path;
}

TEST_F(PackageQueries, DirectoryPaths) {
  struct Case {
    const wchar_t* directory;
    UINT result;
    const wchar_t* path;
  };
  const Case cases[] = {
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
  for (const Case& c : cases) {
    std::wstring path;
    EXPECT_EQ(c.result, ResolveDirectoryPath(edge_.get(), c.directory, path)) << c.directory;
    EXPECT_EQ(SystemPath(c.path), path) << c.directory;
  }

  std::wstring path = L"core.txt";
  EXPECT_EQ(ERROR_SUCCESS, ResolveDirectoryPath(edge_.get(), L"INSTALLDIR", path));
  EXPECT_EQ(SystemPath(L"Egret Labs/Suite Tools/core.txt"), path);
  path.clear();
  EXPECT_EQ(ERROR_SUCCESS, ResolveDirectoryPath(plain_.get(), L"INSTALLDIR", path));
  EXPECT_EQ(SystemPath(L"Heron Works/Backup/"), path);
}

TEST_F(PackageQueries, FeaturesWithConditions) {
  std::vector<ProductFeature> features(3);
  ASSERT_EQ(ERROR_SUCCESS, ReadProductFeatures(edge_.get(), features));
  ASSERT_EQ(6u, features.size());

  const ProductFeature* core = Find(features, L"Core");
  ASSERT_NE(nullptr, core);
  EXPECT_EQ(L"", core->parentName);
  EXPECT_EQ(L"Core tools", core->displayName);
  EXPECT_EQ(L"The main program", core->description);
  EXPECT_EQ(1, core->defaultInstallLevel);
  EXPECT_EQ(L"", core->activeInstallLevel.condition);
  EXPECT_EQ(0, core->activeInstallLevel.installLevel);
  EXPECT_EQ(0, core->cost);
  EXPECT_TRUE(core->enabled);
  EXPECT_TRUE(core->visible);

  const ProductFeature* plugins = Find(features, L"Plugins");
  ASSERT_NE(nullptr, plugins);
  EXPECT_EQ(L"Core", plugins->parentName);
  EXPECT_EQ(3, plugins->defaultInstallLevel);
  // Plugins has two Condition rows: the later one in table order wins.
  const std::vector<std::wstring> order = Column(L"SELECT `Level` FROM `Condition` WHERE `Feature_` = 'Plugins'");
  ASSERT_EQ(2u, order.size());
  const bool second_last = order.back() == L"5";
  EXPECT_EQ(second_last ? L"VersionNT >= 600" : L"NOT PLUGINS_ALLOWED", plugins->activeInstallLevel.condition);
  EXPECT_EQ(second_last ? 5 : 0, plugins->activeInstallLevel.installLevel);

  const ProductFeature* docs = Find(features, L"Docs");
  ASSERT_NE(nullptr, docs);
  EXPECT_EQ(L"DOCS=\"1\"", docs->activeInstallLevel.condition);
  EXPECT_EQ(1, docs->activeInstallLevel.installLevel);

  // Display: 0 and null hide a feature, any other number shows it.
  EXPECT_FALSE(Find(features, L"Hidden")->visible);
  EXPECT_FALSE(Find(features, L"NoDisplay")->visible);
  EXPECT_TRUE(Find(features, L"Mirror")->visible);
  EXPECT_TRUE(docs->visible);
  EXPECT_EQ(200, Find(features, L"NoDisplay")->defaultInstallLevel);
}

TEST_F(PackageQueries, FeaturesOfAPackageWithoutConditions) {
  std::vector<ProductFeature> features;
  EXPECT_EQ(ERROR_BAD_QUERY_SYNTAX, ReadProductFeatures(plain_.get(), features));
  ASSERT_EQ(2u, features.size());
  EXPECT_EQ(L"Main", features[0].name);
  EXPECT_EQ(L"Copies your files every day", features[0].description);
  EXPECT_TRUE(features[0].visible);
  EXPECT_EQ(L"Docs", features[1].name);
  EXPECT_EQ(L"Main", features[1].parentName);
  EXPECT_FALSE(features[1].visible);
  EXPECT_EQ(3, features[1].defaultInstallLevel);
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

TEST_F(PackageQueries, UpgradeRows) {
  std::vector<UpgradeRow> rows;
  ASSERT_EQ(ERROR_SUCCESS, ReadUpgradeRows(edge_.get(), rows));
  ASSERT_EQ(4u, rows.size());
  auto by_attributes = [&rows](std::int32_t attributes) {
    const auto found = std::find_if(rows.begin(), rows.end(),
                                    [&](const UpgradeRow& r) { return r.Attributes == attributes; });
    return found == rows.end() ? UpgradeRow{L"<none>"} : *found;
  };
  const UpgradeRow any = by_attributes(0);
  EXPECT_EQ(L"{2F8C1D3B-4A5E-4B6C-8D7E-9F0A1B2C3D4E}", any.UpgradeCode);
  EXPECT_EQ(L"0.0.0", any.VersionMin);
  EXPECT_EQ(L"99999.99999.99999", any.VersionMax);
  EXPECT_EQ(L"1.0.0", by_attributes(256).VersionMin);
  EXPECT_EQ(L"4.0.2", by_attributes(256).VersionMax);
  EXPECT_EQ(L"2.0", by_attributes(770).VersionMin);
  const UpgradeRow other = by_attributes(512);
  EXPECT_EQ(L"{5A6B7C8D-9E0F-4A1B-8C2D-3E4F5A6B7C8D}", other.UpgradeCode);
  EXPECT_EQ(L"0.5.0", other.VersionMin);
  EXPECT_EQ(L"99999.99999.99999", other.VersionMax);

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
  EXPECT_EQ(L"Installed", sequence.at(0).condition);  // an empty Sequence counts as 0
  EXPECT_EQ(L"EgretUnnumbered", sequence.at(0).action);
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
  EXPECT_EQ(ERROR_INVALID_HANDLE, QueryProperty(0, L"ProductName", text));
  EXPECT_EQ(L"", text);
  std::vector<ProductFeature> features(1);
  EXPECT_EQ(ERROR_INVALID_HANDLE, ReadProductFeatures(0, features));
  EXPECT_TRUE(features.empty());
  std::vector<UpgradeRow> upgrades(1);
  EXPECT_EQ(ERROR_INVALID_HANDLE, ReadUpgradeRows(0, upgrades));
  EXPECT_TRUE(upgrades.empty());
  std::map<std::int32_t, SequenceEntry> sequence{{1, {}}};
  EXPECT_EQ(ERROR_INVALID_HANDLE, ReadExecuteSequence(0, sequence));
  EXPECT_TRUE(sequence.empty());
  std::vector<std::wstring> names{L"x"};
  EXPECT_EQ(ERROR_INVALID_HANDLE, ReadCabinetNames(plain_.get() + 0x1000000, names));
  EXPECT_TRUE(names.empty());
  text = L"keep";
  EXPECT_EQ(ERROR_INVALID_HANDLE, ResolveDirectoryPath(0, L"INSTALLDIR", text));
  EXPECT_EQ(L"keep", text);
}

}  // namespace
