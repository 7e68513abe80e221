// The WMI query helper against the system's WMI service (Windows lane: Wine's).
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "machine_id/wmi_query.h"

namespace {

using wmi_query::RunOnComThread;

// A query of the test's own, with a callback of the test's own.
class CustomQuery final : public wmi_query::WmiQuery {
 public:
  CustomQuery(const wchar_t* query, wmi_query::RowCallback callback)
      : query_(query), callback_(std::move(callback)) {}
  HRESULT Run() override { return result = Execute(query_, callback_); }
  HRESULT result = E_PENDING;

 private:
  const wchar_t* query_;
  wmi_query::RowCallback callback_;
};

TEST(WmiQuery, BaseBoardAnswers) {
  wmi_query::WmiQuery_MotherBoardSerial query;
  ASSERT_TRUE(RunOnComThread(query));
  std::cout << "base board: [" << query.text() << "]\n";
  EXPECT_FALSE(query.text().empty());
}

TEST(WmiQuery, RowsRunOutOrTheCallbackStops) {
  int rows = 0;
  CustomQuery all(L"SELECT Name FROM Win32_Process", [&rows](IWbemClassObject*, bool&) {
    ++rows;
    return S_OK;
  });
  ASSERT_TRUE(RunOnComThread(all));
  EXPECT_EQ(all.result, wmi_query::kRowsExhausted);
  EXPECT_GE(rows, 2) << "this test and Wine's services";

  rows = 0;
  CustomQuery first(L"SELECT Name FROM Win32_Process", [&rows](IWbemClassObject*, bool& proceed) {
    ++rows;
    proceed = false;
    return S_OK;
  });
  ASSERT_TRUE(RunOnComThread(first));
  EXPECT_EQ(first.result, S_OK);
  EXPECT_EQ(rows, 1);

  CustomQuery none(L"SELECT Name FROM Win32_Process WHERE Name = 'no such process.exe'",
                   [](IWbemClassObject*, bool&) { return E_UNEXPECTED; });
  EXPECT_TRUE(RunOnComThread(none)) << "no rows is still success";
  EXPECT_EQ(none.result, wmi_query::kRowsExhausted);
}

TEST(WmiQuery, FailuresEndTheQuery) {
  CustomQuery bad(L"SELECT FROM", [](IWbemClassObject*, bool&) { return S_OK; });
  EXPECT_FALSE(RunOnComThread(bad));
  EXPECT_LT(bad.result, 0);

  CustomQuery refused(L"SELECT Name FROM Win32_Process", [](IWbemClassObject*, bool&) { return E_ACCESSDENIED; });
  EXPECT_FALSE(RunOnComThread(refused));
  EXPECT_EQ(refused.result, E_ACCESSDENIED);

  CustomQuery throwing(L"SELECT Name FROM Win32_Process", [](IWbemClassObject*, bool&) -> HRESULT {
    throw std::runtime_error("inside the query thread");
  });
  EXPECT_FALSE(RunOnComThread(throwing));
}

TEST(WmiQuery, StringProperties) {
  HRESULT results[4] = {E_PENDING, E_PENDING, E_PENDING, E_PENDING};
  std::wstring name;
  CustomQuery query(L"SELECT Name, ProcessId FROM Win32_Process", [&](IWbemClassObject* row, bool& proceed) {
    proceed = false;
    results[0] = wmi_query::GetStringProperty(row, L"Name", &name);
    results[1] = wmi_query::GetStringProperty(row, L"ProcessId", &name);  // an integer
    results[2] = wmi_query::GetStringProperty(row, L"NoSuchProperty", &name);
    results[3] = wmi_query::GetStringProperty(row, L"Name", nullptr);
    return S_OK;
  });
  ASSERT_TRUE(RunOnComThread(query));
  EXPECT_EQ(results[0], S_OK);
  EXPECT_FALSE(name.empty());
  EXPECT_EQ(results[1], E_UNEXPECTED);
  EXPECT_LT(results[2], 0);
  EXPECT_EQ(results[3], E_POINTER);
}

// Run in a process of its own (see CMakeLists.txt): its COM security comes first.
TEST(WmiQuery, OtherComSecurityOfTheProcessIsAccepted) {
  ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
  ASSERT_EQ(CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_CONNECT,
                                 RPC_C_IMP_LEVEL_IDENTIFY, nullptr, EOAC_NONE, nullptr),
            S_OK);
  wmi_query::WmiQuery_MotherBoardSerial query;
  EXPECT_TRUE(RunOnComThread(query));
  EXPECT_FALSE(query.text().empty());
  CoUninitialize();
}

}  // namespace
