// The platform's diagnostics (the MSI library's, the named objects' refusals) in the trace log.
#include "installer_vesk/msi_diagnostics_trace.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "installer_vesk/tracer.h"
#include "log_file.h"
#include "installer_vesk/named_object_trace.h"
#include "platform/msi_diagnostics.h"
#include "platform/named_object_diagnostics.h"

#ifndef _WIN32  // nothing is reported through these seams on Windows

namespace {

constexpr char kLog[] = "diagnostics.log";

class DiagnosticsTrace : public tracer_test::TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    saved_name_ = tracer_->GetInstallerLogName();
    saved_level_ = tracer_->GetLevel();
    tracer_->CloseInstallerLog();
    tracer_->SetInstallerLogName(kLog);
    ASSERT_EQ(tracer_->OpenInstallerLog(), 0);
  }

  void TearDown() override {
    platform::SetMsiDiagnosticSink(nullptr);
    platform::SetNamedObjectDiagnosticSink(nullptr);
    tracer_->CloseInstallerLog();
    tracer_->SetInstallerLogName(saved_name_);
    tracer_->SetLevel(saved_level_);
    TempDirTest::TearDown();
  }

  std::shared_ptr<installer::Tracer> tracer_ = installer::GetTracer();
  std::string saved_name_;
  std::uint32_t saved_level_ = 0;
};

// The library's messages are detail records; refusals are written at the default level.
TEST_F(DiagnosticsTrace, MessagesAreDetailRecordsAndRefusalsInstallerRecords) {
  installer::TraceMsiDiagnostics();
  installer::TraceNamedObjectRefusals();
  platform::ReportMsiDiagnostic("at the default level");
  platform::ReportNamedObjectDiagnostic("named object /Local.x belongs to user 1001: refused");
  tracer_->SetLevel(installer::kDetailTraceLevel);
  platform::ReportMsiDiagnostic("libmsi warning: table not found");
  EXPECT_EQ(tracer_test::ReadRecords(kLog),
            (std::vector<std::string>{"bl\tnamed object /Local.x belongs to user 1001: refused",
                                      "bl\tlibmsi warning: table not found"}));
}

}  // namespace

#endif
