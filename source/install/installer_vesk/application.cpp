#include "installer_vesk/application.h"

#include "installer_vesk/interop_helpers.h"
#include "installer_vesk/log_option.h"
#include "installer_vesk/msi_package_info.h"
#include "installer_vesk/msi_setup_manager.h"
#include "installer_vesk/trace_record.h"
#include "installer_vesk/tracer.h"
#include "ovra/strings.h"

namespace installer {

bool Application::run() {
  const CommandLineMapping mapping;  // keeps the block while it is read
  std::wstring command_line;
  ReadSharedCommandLine(command_line);  // an unreadable block reads as no option
  std::wstring directory;
  if (FindLogDirectory(command_line, directory)) {
    const auto tracer = GetTracer();
    tracer->SetLogDirectory(ovra::Utf8FromWide(directory));
    tracer->OpenInstallerLog();
  }
  InstallerRecord() << "Application run";
  return true;
}

bool Application::join() {
  MsiSetupManager::releaseInstance();
  ReleasePackageInstance();
  InstallerRecord() << "Application join";
  return true;
}

}  // namespace installer
