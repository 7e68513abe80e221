// Installed-product queries over the Osprey family, installed for real; a package's plain
// facts as script reads them: test/script/package_info.test.js.
#include <gtest/gtest.h>

#include <cwchar>
#include <filesystem>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "msi_wrapper/msi_database.h"
#include "msi_wrapper/product_info.h"
#include "ovra/strings.h"
#include "platform/paths.h"
#include "test_packages.h"

namespace {

namespace fs = std::filesystem;
using namespace installer::msi_wrapper;
using msi_test::PackagePath;

constexpr bool kWine = msi_test::kUnderWine;
// Wine's msi.dll opens a missing or damaged file with ERROR_FUNCTION_FAILED,
// where the documentation gives ERROR_OPEN_FAILED.
constexpr UINT kOpenFailed = kWine ? ERROR_FUNCTION_FAILED : ERROR_OPEN_FAILED;

// Codes authored in test/packages/CMakeLists.txt.
const std::wstring kGuard19 = L"{444F63BF-29CF-49A2-B5CF-1258C53F39E6}";
const std::wstring kGuard110 = L"{05BDA2B5-5B93-4E11-BA4B-83EC001ED351}";
const std::wstring kGuard20 = L"{E83DB0D8-6D83-4B8A-B92A-0D8E668FD27C}";
const std::wstring kFamily = L"{83EEABC6-DD0F-45B1-9264-056648FAA962}";
const std::wstring kBetaFamily = L"{B3F23D7F-13EC-45E2-9BEC-EDBD5B07CB22}";
const std::wstring kNeverInstalled = L"{6B0D3C1E-9F2A-4E57-8C61-D4A0B3E2F719}";

std::wstring Sep() { return std::wstring(1, platform::kPathSeparator); }

UINT Install(const wchar_t* package) { return MsiInstallProductW(PackagePath(package).c_str(), L""); }
UINT Remove(const std::wstring& product) {
  return MsiConfigureProductExW(product.c_str(), 0, INSTALLSTATE_ABSENT, L"");
}

// Runs each statement on a writable copy and commits.
void ChangePackage(const std::wstring& path, const std::vector<std::wstring>& statements) {
  UINT error = ERROR_SUCCESS;
  const auto database = OpenMsiDatabase(path, error, MsiOpenMode::kDirect);
  ASSERT_TRUE(database) << error;
  for (const std::wstring& statement : statements) {
    std::unique_ptr<MsiView> view;
    ASSERT_EQ(ERROR_SUCCESS, database->OpenView(statement, view)) << ovra::Utf8FromWide(statement);
  }
  ASSERT_EQ(ERROR_SUCCESS, database->Commit());
}

TEST(InstalledFeatureEnumeration, SkipsFailingIndexesUpToABound) {
  constexpr DWORD kBound = kMaxConsecutiveFeatureFailures;
  const struct {
    const char* what;
    std::map<DWORD, const wchar_t*> entries;  // by index: a name, or null for the end; others fail with 1605
    std::map<std::wstring, std::wstring> expected;
    DWORD calls;
  } cases[] = {
      {"every index fails", {}, {}, kBound},
      {"a feature after 63 failures is reached", {{63, L"Late"}, {64, nullptr}}, {{L"Late", L"Parent"}}, 65},
      {"a feature after 64 failures is not", {{0, L"First"}, {65, L"Unreached"}}, {{L"First", L"Parent"}}, 1 + kBound},
      {"the first entry of a name stays", {{0, L"Twice"}, {1, L"Twice"}, {2, nullptr}}, {{L"Twice", L"Parent"}}, 3},
  };
  for (const auto& c : cases) {
    DWORD calls = 0;
    std::map<std::wstring, std::wstring> features{{L"stale", L""}};
    CollectInstalledFeatures(
        [&](DWORD index, wchar_t* feature, wchar_t* parent) -> UINT {
          ++calls;
          const auto entry = c.entries.find(index);
          if (entry == c.entries.end()) return ERROR_UNKNOWN_PRODUCT;
          if (!entry->second) return ERROR_NO_MORE_ITEMS;
          std::wcscpy(feature, entry->second);
          std::wcscpy(parent, index == 1 ? L"Other" : L"Parent");  // a name's second entry brings another parent
          return ERROR_SUCCESS;
        },
        features);
    EXPECT_EQ(c.expected, features) << c.what;
    EXPECT_EQ(c.calls, calls) << c.what;
  }
}

TEST(PackageFacts, UnreadablePackagesGiveTheOpenError) {
  for (const wchar_t* name : {L"no_such_package.msi", L"not_msi.msi"}) {
    UINT error = 12345;
    EXPECT_EQ(nullptr, CreateMsiProductInfo(PackagePath(name), error)) << ovra::Utf8FromWide(name);
    EXPECT_EQ(kOpenFailed, error) << ovra::Utf8FromWide(name);
  }
}

TEST(PackageFacts, InstallDirectoryFallsBackToManufacturerAndProductName) {
  msi_test::ScopedEngineHome home;
  // Wine's 64-bit prefix; on Linux, the engine's drive root.
  const std::wstring program_files =
      kWine ? L"C:\\Program Files" : ovra::WideFromUtf8((home.folder() / "drive" / "Program Files").string());
  msi_test::ScratchCopy copy(L"plain.msi");
  ChangePackage(copy.path(), {L"UPDATE Directory SET Directory_Parent='TARGETDIR' WHERE Directory='INSTALLDIR'"});
  UINT error = 0;
  EXPECT_EQ(program_files + Sep() + L"Heron Works" + Sep() + L"Heron Backup",
            CreateMsiProductInfo(copy.path(), error)->GetInstallDirectory());

  // With no Manufacturer there is no answer, though ProductName is set.
  ChangePackage(copy.path(), {L"DELETE FROM Property WHERE Property='Manufacturer'"});
  const auto package = CreateMsiProductInfo(copy.path(), error);
  EXPECT_EQ(L"Heron Backup", package->GetProductName());
  EXPECT_EQ(L"", package->GetInstallDirectory());
}

class InstalledProducts : public ::testing::Test {
 protected:
  void SetUp() override { previous_ui_ = MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr); }
  void TearDown() override {
    for (const std::wstring& product : {kGuard19, kGuard110, kGuard20}) {
      if (MsiQueryProductStateW(product.c_str()) != INSTALLSTATE_UNKNOWN) {
        ADD_FAILURE() << ovra::Utf8FromWide(product) << " was left installed; removing it";
        Remove(product);
      }
    }
    MsiSetInternalUI(previous_ui_, nullptr);
  }

  // What FindInstalledUpgradeTargets finds in a package whose Upgrade table holds `rows`.
  std::vector<UpgradeRow> TargetsOf(const std::vector<UpgradeRow>& rows) {
    msi_test::ScratchCopy copy(L"osprey_1_10.msi");
    // A new table: "DELETE FROM Upgrade" leaves rows behind in libmsi.
    std::vector<std::wstring> statements{
        L"DROP TABLE Upgrade",
        L"CREATE TABLE Upgrade (UpgradeCode CHAR(38) NOT NULL, VersionMin CHAR(20), VersionMax CHAR(20), "
        L"Language CHAR(255), Attributes LONG NOT NULL, Remove CHAR(255), ActionProperty CHAR(72) NOT NULL "
        L"PRIMARY KEY UpgradeCode, VersionMin, VersionMax, Language, Attributes)"};
    int property = 0;
    for (const UpgradeRow& row : rows) {
      statements.push_back(L"INSERT INTO Upgrade (UpgradeCode, VersionMin, VersionMax, Attributes, ActionProperty) "
                           L"VALUES ('" + row.UpgradeCode + L"', '" + row.VersionMin + L"', '" + row.VersionMax +
                           L"', " + std::to_wstring(row.Attributes) + L", 'FOUND" + std::to_wstring(property++) +
                           L"')");
    }
    ChangePackage(copy.path(), statements);
    MSIHANDLE raw = 0;
    EXPECT_EQ(0u, MsiOpenDatabaseW(copy.path().c_str(), MSIDBOPEN_READONLY, &raw));
    const UniqueMsiHandle database(raw);
    std::vector<UpgradeRow> targets{UpgradeRow{}};
    EXPECT_EQ(0u, FindInstalledUpgradeTargets(database.get(), targets));
    return targets;
  }

  msi_test::ScopedEngineHome home_;
  INSTALLUILEVEL previous_ui_ = INSTALLUILEVEL_DEFAULT;
};

// Its name, version and family as script sees them: package_info.test.js (conflicts).
TEST_F(InstalledProducts, AnInstalledMemberAnswersForItself) {
  ASSERT_EQ(0u, Install(L"osprey_1_9.msi"));
  EXPECT_TRUE(IsProductInstalled(kGuard19));
  std::wstring value = L"stale";
  EXPECT_EQ(static_cast<UINT>(ERROR_UNKNOWN_PRODUCT),
            GetInstalledProductProperty(kNeverInstalled, INSTALLPROPERTY_VERSIONSTRING, value));
  EXPECT_EQ(L"", value);
  std::vector<std::wstring> related{L"stale"};
  EXPECT_EQ(static_cast<UINT>(ERROR_NO_MORE_ITEMS), FindRelatedProduct(kBetaFamily, related));
  EXPECT_TRUE(related.empty());

  UINT error = 12345;
  EXPECT_EQ(nullptr, CreateMsiProductInstalledInfo(kNeverInstalled, error));
  EXPECT_EQ(12345u, error);
  const auto installed = CreateMsiProductInstalledInfo(kGuard19, error);
  ASSERT_TRUE(installed);
  EXPECT_EQ(SetupType::SamePackage, installed->GetSetupType());
  EXPECT_THROW(installed->GetCabFileNames(), std::logic_error);
  const fs::path cached(installed->GetMsiFilePath());
  EXPECT_TRUE(fs::exists(cached));

  std::map<std::wstring, std::wstring> listed;
  EnumInstalledFeatures(kGuard19, listed);
  std::vector<ProductFeature> features;
  using States = std::map<std::wstring, std::pair<bool, bool>>;  // name: enabled, visible
  const auto seen = [&] {
    States states;
    EXPECT_EQ(0u, installed->GetProductFeatures(features));
    for (const ProductFeature& feature : features) states[feature.name] = {feature.enabled, feature.visible};
    return states;
  };
  // Wine's MsiEnumFeaturesW lists nothing, so every feature becomes invisible.
  // Docs (level 200) is absent; Service is hidden in the package.
  const std::map<std::wstring, std::wstring> all{{L"Main", L""}, {L"Tools", L"Main"}, {L"Docs", L""}, {L"Service", L""}};
  EXPECT_EQ(kWine ? decltype(all)() : all, listed);
  EXPECT_EQ((States{{L"Main", {true, !kWine}}, {L"Tools", {true, !kWine}}, {L"Docs", {false, !kWine}},
                    {L"Service", {true, false}}}),
            seen());

  // A visible feature that the product does not list becomes invisible.
  ChangePackage(cached.wstring(), {L"INSERT INTO Feature (Feature, Title, Display, Level, Attributes) "
                                   L"VALUES ('Ghost', 'Ghost', 1, 1, 0)"});
  EXPECT_EQ(std::make_pair(false, false), seen().at(L"Ghost"));  // throws if Ghost is missing

  // Without its cached package the product reports the open error.
  const fs::path aside = cached.wstring() + L".aside";
  fs::rename(cached, aside);
  EXPECT_EQ(kOpenFailed, installed->GetProductFeatures(features));
  EXPECT_TRUE(features.empty());
  fs::rename(aside, cached);

  EXPECT_EQ(0u, Remove(kGuard19));
  EXPECT_FALSE(IsProductInstalled(kGuard19));
}

TEST_F(InstalledProducts, SetupTypeAndUpgradeBounds) {
  ASSERT_EQ(0u, Install(L"osprey_1_9.msi"));
  UINT error = 0;
  const struct { const wchar_t* package; SetupType expected; } types[] = {
      {L"osprey_1_9_rebuild.msi", SetupType::SameProductOtherPackage},
      {L"osprey_2_0.msi", SetupType::NewInstall},               // 2.0.0 <= v < 3.0.0
      {L"osprey_beta.msi", SetupType::NewInstall},              // another family
  };
  for (const auto& type : types) {
    EXPECT_EQ(type.expected, CreateMsiProductInfo(PackagePath(type.package), error)->GetSetupType())
        << ovra::Utf8FromWide(type.package);
  }
  // Not installed, and no Upgrade table to compare with.
  msi_test::ScratchCopy without_upgrades(L"osprey_beta.msi");
  ChangePackage(without_upgrades.path(), {L"DROP TABLE Upgrade"});
  EXPECT_EQ(SetupType::Undetermined, CreateMsiProductInfo(without_upgrades.path(), error)->GetSetupType());

  // Installed: 1.9.0. Each row alone.
  const int kMin = msidbUpgradeAttributesVersionMinInclusive;
  const int kMax = msidbUpgradeAttributesVersionMaxInclusive;
  const struct { UpgradeRow row; bool matches; } bounds[] = {
      {{kFamily, L"1.9.0", L"2.0.0", 0}, false},
      {{kFamily, L"1.9.0", L"2.0.0", kMin}, true},
      {{kFamily, L"1.0.0", L"1.9.0", 0}, false},
      {{kFamily, L"1.0.0", L"1.9.0", kMax}, true},
      {{kFamily, L"1.9.0.7", L"2.0.0", kMin}, true},  // a fourth field does not count
      {{kFamily, L"1.0.0", L"1.9.0.7", 0}, false},
      {{kFamily, L"1.9.1", L"2.0.0", kMin | kMax}, false},
      {{kFamily, L"1.10.0", L"2.0.0", kMin}, false},  // numeric: 1.10 is above 1.9
      {{kFamily, L"1.0.0", L"2.0.0", kMin | kMax | msidbUpgradeAttributesOnlyDetect}, false},
      {{kFamily, L"", L"", 0}, true},  // empty bounds: the widest range
      {{kBetaFamily, L"", L"", 0}, false},
  };
  for (const auto& bound : bounds) {
    const std::vector<UpgradeRow> targets = TargetsOf({bound.row});
    const std::string label = ovra::Utf8FromWide(bound.row.VersionMin + L" " + bound.row.VersionMax) + " " +
                              std::to_string(bound.row.Attributes);
    ASSERT_EQ(bound.matches ? 1u : 0u, targets.size()) << label;
    if (bound.matches) {
      EXPECT_EQ(bound.row.Attributes, targets[0].Attributes) << label;
    }
  }
  EXPECT_EQ(0u, Remove(kGuard19));
}

TEST_F(InstalledProducts, OnlyTheFirstMemberOfAFamilyCounts) {
  ASSERT_EQ(0u, Install(L"osprey_1_9.msi"));
  ASSERT_EQ(0u, Install(L"osprey_2_0.msi"));
  std::vector<std::wstring> first;
  ASSERT_EQ(0u, FindRelatedProduct(kFamily, first));
  ASSERT_TRUE(first[0] == kGuard19 || first[0] == kGuard20);
  const bool older_first = first[0] == kGuard19;
  // One row per member's version, each matching that member only.
  const std::vector<UpgradeRow> targets =
      TargetsOf({{kFamily, L"1.9.0", L"1.9.0", 768}, {kFamily, L"2.0.0", L"2.0.0", 769}});
  ASSERT_EQ(1u, targets.size());
  EXPECT_EQ(older_first ? 768 : 769, targets[0].Attributes);
  EXPECT_EQ(0u, Remove(kGuard20));
  EXPECT_EQ(0u, Remove(kGuard19));
}

}  // namespace
