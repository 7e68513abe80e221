// The setup engine over real packages, in a current directory holding the package under
// the product's name; cancelling and the whole flow: test/script/setup_flow.test.js.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "msi_wrapper/setup_engine.h"
#include "program_support.h"

namespace {

namespace fs = std::filesystem;
using namespace installer::msi_wrapper;

constexpr bool kWine = msi_test::kUnderWine;
const wchar_t kNotesV1[] = L"{E4E74EAD-BE3B-4938-AADF-AC2098620395}";
const wchar_t kPlover[] = L"{552F1696-84A0-44E9-BCDB-6FAB6806B777}";

INT WINAPI OuterHandler(LPVOID, UINT, LPCWSTR) { return 0; }

class SetupEngine : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_directory_ = fs::current_path();
    fs::current_path(home_.folder());
  }
  void TearDown() override {
    fs::current_path(previous_directory_);
    for (const wchar_t* product : {kNotesV1, kPlover}) {
      if (MsiQueryProductStateW(product) == INSTALLSTATE_DEFAULT) {
        ADD_FAILURE() << "a product was left installed";
        MsiConfigureProductExW(product, 0, INSTALLSTATE_ABSENT, L"");
      }
    }
  }

  void UsePackage(const wchar_t* name) {
    fs::copy_file(fs::path(msi_test::PackagePath(name)), home_.folder() / DefaultMsiFileName,
                  fs::copy_options::overwrite_existing);
  }

  // An engine whose callback records every record and answers with `answer`.
  std::unique_ptr<MsiSetupManagerInterface> Engine(std::function<int(const SetupProgress&)> answer = nullptr,
                                                   std::wstring log = L"") {
    auto engine = CreateMsiSetupManager(
        [this, answer](const SetupProgress& record) {
          records_.push_back(record);
          return answer ? answer(record) : IDOK;
        },
        std::move(log));
    EXPECT_NE(nullptr, engine);
    return engine;
  }

  msi_test::ScopedEngineHome home_;
  fs::path previous_directory_;
  std::vector<SetupProgress> records_;
};

TEST_F(SetupEngine, OnlyOneEngineLivesAtATime) {
  auto first = CreateMsiSetupManager(nullptr, L"");
  ASSERT_NE(nullptr, first);
  EXPECT_EQ(nullptr, CreateMsiSetupManager(nullptr, L""));
  first.reset();
  EXPECT_NE(nullptr, CreateMsiSetupManager(nullptr, L""));
}

TEST_F(SetupEngine, InstallsWithProgressAndRemoves) {
  UsePackage(L"notes_v1.msi");
  const fs::path log = home_.folder() / "setup.log";
  MsiSetExternalUIW(OuterHandler, INSTALLLOGMODE_INFO, nullptr);
  MsiSetInternalUI(INSTALLUILEVEL_BASIC, nullptr);
  {
    auto engine = Engine(nullptr, log.wstring());
    ASSERT_EQ(ERROR_SUCCESS, engine->RunSetupTask({{L"SYNC", L"on"}}, 3));
  }
  // The handler and UI level in force before are in force again.
  EXPECT_EQ(OuterHandler, MsiSetExternalUIW(nullptr, 0, nullptr));
  EXPECT_EQ(INSTALLUILEVEL_BASIC, MsiSetInternalUI(INSTALLUILEVEL_NOCHANGE, nullptr));

  std::vector<int> percentages;
  for (const SetupProgress& record : records_) {
    if (record.kind == ProgressMessageKind::Progress && record.progress) percentages.push_back(*record.progress);
  }
  ASSERT_FALSE(percentages.empty());
  EXPECT_TRUE(std::is_sorted(percentages.begin(), percentages.end()));
  EXPECT_EQ(100, percentages.back());
  EXPECT_TRUE(std::any_of(records_.begin(), records_.end(), [](const SetupProgress& record) {
    return record.action.find(L": InstallFiles. ") != std::wstring::npos;
  }));
  EXPECT_EQ(INSTALLSTATE_DEFAULT, MsiQueryProductStateW(kNotesV1));
  std::string text = native_test::ReadFile(log);
  text.erase(std::remove(text.begin(), text.end(), '\0'), text.end());  // a UTF-16 log reads as ASCII
  EXPECT_NE(std::string::npos, text.find("InstallFiles"));

  auto engine = Engine();
  EXPECT_EQ(ERROR_SUCCESS, engine->RunUninstallProduct(kNotesV1, L"", 0));
  EXPECT_EQ(INSTALLSTATE_UNKNOWN, MsiQueryProductStateW(kNotesV1));
}

TEST_F(SetupEngine, PreinstallWritesNothingAndStopsAtAFalseLaunchCondition) {
  UsePackage(L"notes_v1.msi");
  EXPECT_EQ(ERROR_SUCCESS, Engine()->RunPreinstallTask({{L"SYNC", L"on"}}, 0));
  EXPECT_EQ(INSTALLSTATE_UNKNOWN, MsiQueryProductStateW(kNotesV1));

  records_.clear();
  UsePackage(L"launch_false.msi");
  EXPECT_EQ(ERROR_INSTALL_FAILURE, Engine()->RunPreinstallTask({}, 0));
  const bool error_named_the_action = std::any_of(records_.begin(), records_.end(), [](const SetupProgress& record) {
    return record.kind == ProgressMessageKind::Error && record.action.find(L"LaunchConditions") != std::wstring::npos;
  });
  // Wine ends with 1603 without sending the condition's message.
  EXPECT_EQ(!kWine, error_named_the_action);
}

}  // namespace
