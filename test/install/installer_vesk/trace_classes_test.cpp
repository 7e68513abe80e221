// The script's trace objects, working on the process-wide tracer.
#include "installer_vesk/trace_classes.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "installer_vesk/tracer.h"
#include "log_file.h"
#include "ovra/strings.h"

namespace {

using installer::TraceController;
using installer::TraceHelper;
using tracer_test::ReadRecords;

constexpr char kLog[] = "classes.log";

// Points the process-wide tracer at a log in the test's folder and puts it back afterwards.
class TraceClassesTest : public tracer_test::TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    tracer_ = installer::GetTracer();
    saved_name_ = tracer_->GetInstallerLogName();
    saved_level_ = tracer_->GetLevel();
    tracer_->CloseInstallerLog();
    tracer_->SetInstallerLogName(kLog);
  }

  void TearDown() override {
    tracer_->CloseInstallerLog();
    tracer_->SetInstallerLogName(saved_name_);
    tracer_->SetLevel(saved_level_);
    TempDirTest::TearDown();
  }

  std::shared_ptr<installer::Tracer> tracer_;
  std::string saved_name_;
  std::uint32_t saved_level_ = 0;
  TraceController controller_;
  TraceHelper helper_;
};

TEST_F(TraceClassesTest, ControllerOpensClosesAndReportsState) {
  bool open = true;
  std::uint32_t level = 0;
  EXPECT_EQ(controller_.getTraceState(open, level), 0);
  EXPECT_FALSE(open);
  EXPECT_EQ(level, 700u);

  EXPECT_EQ(controller_.turnOnTraces(), 0);
  EXPECT_EQ(controller_.turnOnTraces(), 0);
  EXPECT_EQ(controller_.setTraceLevel(1234), 0);
  EXPECT_EQ(controller_.getTraceState(open, level), 0);
  EXPECT_TRUE(open);
  EXPECT_EQ(level, 1234u);

  EXPECT_EQ(controller_.turnOffTraces(), 0);
  EXPECT_EQ(controller_.turnOffTraces(), 0);
  EXPECT_EQ(controller_.getTraceState(open, level), 0);
  EXPECT_FALSE(open);
  EXPECT_TRUE(std::filesystem::exists(kLog));
}

TEST_F(TraceClassesTest, TurnOnReportsAnUnopenableLog) {
  tracer_->SetInstallerLogName("no_such_folder/classes.log");
  EXPECT_EQ(controller_.turnOnTraces(), static_cast<std::int32_t>(0x8000004Bu));
  bool open = true;
  std::uint32_t level = 0;
  controller_.getTraceState(open, level);
  EXPECT_FALSE(open);
}

TEST_F(TraceClassesTest, TraceWritesTheTextAloneWithinTheLevelWhileOpen) {
  EXPECT_EQ(helper_.trace(L"closed", 1), 0);
  ASSERT_EQ(controller_.turnOnTraces(), 0);
  EXPECT_EQ(helper_.trace(L"script record", 700), 0);
  EXPECT_EQ(helper_.trace(L"too detailed", 701), 0);
  EXPECT_EQ(helper_.trace(L"", 5), 0);
  EXPECT_EQ(helper_.trace(ovra::WideFromUtf16(u"smile \U0001F600 \u00e9"), 700), 0);
  EXPECT_EQ(helper_.trace(std::wstring(600, L'x'), 700), 0);
  controller_.setTraceLevel(1000);
  EXPECT_EQ(helper_.trace(std::wstring(600, L'y'), 700), 0);
  installer::InstallerRecord() << "installer record";
  controller_.turnOffTraces();
  EXPECT_EQ(helper_.trace(L"closed again", 1), 0);
  EXPECT_EQ(ReadRecords(kLog), (std::vector<std::string>{"script record", "", "smile \xF0\x9F\x98\x80 \xC3\xA9",
                                                         std::string(600, 'y'), "bl\tinstaller record"}));
}

}  // namespace
