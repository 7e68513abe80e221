// The database, view and record owners and the string-field read.
#include <gtest/gtest.h>

#include <filesystem>

#include "msi_wrapper/msi_database.h"
#include "test_packages.h"

namespace {

using namespace installer::msi_wrapper;
using msi_test::PackagePath;
using msi_test::ScratchCopy;

std::unique_ptr<MsiDatabase> Open(const std::wstring& path, MsiOpenMode mode = MsiOpenMode::kReadOnly) {
  UINT error = 12345;
  auto database = OpenMsiDatabase(path, error, mode);
  EXPECT_EQ(ERROR_SUCCESS, error);
  return database;
}

TEST(MsiDatabase, OpenReportsTheInstallerCode) {
  for (const wchar_t* name : {L"zero_length.msi", L"missing.msi"}) {
    UINT error = 0;
    EXPECT_EQ(nullptr, OpenMsiDatabase(PackagePath(name), error));
    EXPECT_NE(ERROR_SUCCESS, error);
  }
  EXPECT_NE(nullptr, Open(PackagePath(L"plain.msi")));
}

TEST(MsiDatabase, FailedOpenViewKeepsTheHeldView) {
  auto database = Open(PackagePath(L"plain.msi"));
  std::unique_ptr<MsiView> view;
  ASSERT_EQ(ERROR_SUCCESS, database->OpenView(L"SELECT `Feature` FROM `Feature`", view));
  MsiView* held = view.get();
  EXPECT_NE(ERROR_SUCCESS, database->OpenView(L"SELECT * FROM `Condition`", view));  // no such table
  ASSERT_EQ(held, view.get());
  EXPECT_EQ(L"Main", view->Fetch()->GetString(1));
  EXPECT_EQ(L"Docs", view->Fetch()->GetString(1));
  EXPECT_EQ(nullptr, view->Fetch());
  EXPECT_EQ(L"Main", view->Fetch()->GetString(1));  // the fetch after the end starts over

  ASSERT_EQ(ERROR_SUCCESS, database->OpenView(L"SELECT `File` FROM `File`", view));
  EXPECT_EQ(L"heron.ini", view->Fetch()->GetString(1));
}

TEST(MsiDatabase, RecordReadsNullEmptyMissingFieldsAndBadHandlesAsEmpty) {
  auto database = Open(PackagePath(L"edge.msi"));
  std::unique_ptr<MsiView> view;
  ASSERT_EQ(ERROR_SUCCESS,
            database->OpenView(L"SELECT `Feature`, `Description`, `Display`, `Level` FROM `Feature` "
                               L"WHERE `Feature` = 'NoDisplay'",
                               view));
  auto record = view->Fetch();
  ASSERT_NE(nullptr, record);
  EXPECT_EQ(4u, record->GetFieldCount());
  EXPECT_EQ(L"NoDisplay", record->GetString(1));
  EXPECT_TRUE(record->IsNull(2));
  EXPECT_EQ(L"", record->GetString(2));
  EXPECT_EQ(L"", record->GetString(3));
  EXPECT_EQ(static_cast<int>(MSI_NULL_INTEGER), record->GetInteger(3));
  EXPECT_EQ(200, record->GetInteger(4));
  EXPECT_EQ(L"", record->GetString(5));
  EXPECT_TRUE(record->IsNull(5));
  std::wstring out = L"stale";
  EXPECT_EQ(ERROR_INVALID_HANDLE, ReadRecordString(0, 1, out));
  EXPECT_EQ(L"", out);
}

TEST(MsiDatabase, CreatedRecordsHoldValues) {
  auto database = Open(PackagePath(L"plain.msi"));
  std::unique_ptr<MsiView> view;
  ASSERT_EQ(ERROR_SUCCESS, database->OpenView(L"SELECT * FROM `Property`", view));
  auto record = view->CreateRecord(2);
  EXPECT_EQ(ERROR_SUCCESS, record->SetInteger(2, 17));
  EXPECT_EQ(L"17", record->GetString(2));

  // A failed creation gives a record without a handle, whose calls all fail.
  auto nothing = view->CreateRecord(70000);
  EXPECT_EQ(static_cast<unsigned>(-1), nothing->GetFieldCount());
  EXPECT_EQ(ERROR_INVALID_HANDLE, nothing->SetString(1, L"x"));
  EXPECT_EQ(L"", nothing->GetString(1));
  EXPECT_EQ(ERROR_INVALID_HANDLE, view->Insert(nothing));
  EXPECT_EQ(ERROR_INVALID_HANDLE, view->Insert(nullptr));
}

TEST(MsiDatabase, InsertAndDeleteThroughViews) {
  ScratchCopy copy(L"plain.msi");
  {
    auto database = Open(copy.path(), MsiOpenMode::kDirect);
    std::unique_ptr<MsiView> view;
    ASSERT_EQ(ERROR_SUCCESS, database->OpenView(L"select * from Property", view));
    auto record = view->CreateRecord(2);
    ASSERT_EQ(ERROR_SUCCESS, record->SetString(1, L"AGREETOTERMS"));
    ASSERT_EQ(ERROR_SUCCESS, record->SetString(2, L"1"));
    EXPECT_EQ(ERROR_SUCCESS, view->Insert(record));
    EXPECT_NE(ERROR_SUCCESS, view->Insert(record));  // the key exists now

    ASSERT_EQ(ERROR_SUCCESS, database->OpenView(L"SELECT * FROM `Property` WHERE `Property` = 'EDITION'", view));
    auto edition = view->Fetch();
    ASSERT_NE(nullptr, edition);
    EXPECT_EQ(ERROR_SUCCESS, view->Delete(edition));
    EXPECT_EQ(ERROR_SUCCESS, database->Commit());
  }
  auto database = Open(copy.path());
  std::unique_ptr<MsiView> view;
  ASSERT_EQ(ERROR_SUCCESS,
            database->OpenView(L"SELECT `Value` FROM `Property` WHERE `Property` = 'AGREETOTERMS'", view));
  auto agreed = view->Fetch();
  ASSERT_NE(nullptr, agreed);
  EXPECT_EQ(L"1", agreed->GetString(1));
  ASSERT_EQ(ERROR_SUCCESS, database->OpenView(L"SELECT `Value` FROM `Property` WHERE `Property` = 'EDITION'", view));
  EXPECT_EQ(nullptr, view->Fetch());
}

// A long-lived installer must not hold closed packages open.
TEST(MsiDatabase, ClosedDatabasesHoldTheFileNoLonger) {
  ScratchCopy copy(L"plain.msi");
  for (int round = 0; round < 20; ++round) {
    auto database = Open(copy.path(), round % 4 ? MsiOpenMode::kReadOnly : MsiOpenMode::kDirect);
    std::unique_ptr<MsiView> view;
    ASSERT_EQ(ERROR_SUCCESS, database->OpenView(L"SELECT `File`, `FileName` FROM `File`", view));
    while (view->Fetch()) {
    }
    EXPECT_EQ(ERROR_SUCCESS, database->Commit());
  }
#ifdef __linux__
  int held = 0;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    std::error_code ignored;
    held += std::filesystem::equivalent(entry.path(), copy.path(), ignored);
  }
  EXPECT_EQ(0, held);
#else
  std::error_code removed;
  std::filesystem::remove(copy.path(), removed);
  EXPECT_FALSE(removed) << removed.message();
#endif
}

}  // namespace
