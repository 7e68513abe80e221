// The other process of the handshake tests.
//
//   handshake_probe ui --log FILE --report FILE [--exit-code N]
//       The user interface: traces to FILE, awaits the package (two first callers at
//       once, then a late one) and writes what it saw to the report.
//   handshake_probe set-event NAME MARKER
//       After a pause, creates the file MARKER, then sets the event NAME.
//   handshake_probe abandon NAME GO LINGER_MS
//       Creates the event NAME and the block NAME.block, sets the event GO, and after
//       LINGER_MS ends without closing anything, as a crashed bootstrapper would.
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "installer_vesk/bootstrapper_objects.h"
#include "installer_vesk/interop_helpers.h"
#include "installer_vesk/msi_ready.h"
#include "installer_vesk/tracer.h"
#include "ovra/strings.h"
#include "platform/named_event.h"
#include "platform/shared_memory.h"

namespace {

constexpr int kUsageError = 64;
constexpr int kFailure = 65;

std::filesystem::path PathOf(const std::wstring& text) { return std::filesystem::u8path(ovra::Utf8FromWide(text)); }

int UserInterface(const std::vector<std::wstring>& arguments) {
  std::wstring log, report_file;
  int exit_code = 0;
  for (std::size_t i = 2; i + 1 < arguments.size(); i += 2) {
    if (arguments[i] == L"--log") log = arguments[i + 1];
    else if (arguments[i] == L"--report") report_file = arguments[i + 1];
    else if (arguments[i] == L"--exit-code") exit_code = std::stoi(arguments[i + 1]);
    else return kUsageError;
  }
  if (log.empty() || report_file.empty()) return kUsageError;

  const auto tracer = installer::GetTracer();
  tracer->SetInstallerLogName(ovra::Utf8FromWide(log));
  if (tracer->OpenInstallerLog() != 0) return kFailure;
  std::ofstream report(PathOf(report_file), std::ios::binary);

  std::thread first(installer::WaitForMsiReady), second(installer::WaitForMsiReady);
  first.join();
  second.join();
  installer::WaitForMsiReady();

  platform::NamedEvent ready;
  report << "ready set: " << (ready.Open(installer::kMsiReadyEventName, platform::EventAccess::kWait) == 0 && ready.IsSet())
         << "\n";
  report << "package present: " << std::filesystem::exists("velkor_installer.msi") << "\n";
  return report.good() ? exit_code : kFailure;
}

int SetEvent(const std::vector<std::wstring>& arguments) {
  if (arguments.size() != 4) return kUsageError;
  platform::NamedEvent event;
  if (const platform::ErrorCode error = event.Open(arguments[2], platform::EventAccess::kSet)) return static_cast<int>(error);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  std::ofstream(PathOf(arguments[3])) << "set\n";
  return static_cast<int>(event.Set());
}

int Abandon(const std::vector<std::wstring>& arguments) {
  if (arguments.size() != 5) return kUsageError;
  // Never destroyed: the objects stay as a crash would leave them.
  auto* event = new platform::NamedEvent;
  auto* block = new platform::SharedMemory;
  auto* view = new platform::SharedMemoryView;
  if (event->Create(arguments[2]) != 0 || block->CreateOrOpen(arguments[2] + L".block", 2048) != 0 ||
      block->Map(platform::ViewAccess::kReadWrite, 2048, *view) != 0) {
    return kFailure;
  }
  installer::WriteCommandLineText(view->data(), view->size(), L"left behind");
  platform::NamedEvent go;
  if (go.Open(arguments[3], platform::EventAccess::kSet) != 0 || go.Set() != 0) return kFailure;
  std::this_thread::sleep_for(std::chrono::milliseconds(std::stoi(arguments[4])));
  std::_Exit(0);
}

int Run(const std::vector<std::wstring>& arguments) {
  if (arguments.size() < 2) return kUsageError;
  if (arguments[1] == L"ui") return UserInterface(arguments);
  if (arguments[1] == L"set-event") return SetEvent(arguments);
  if (arguments[1] == L"abandon") return Abandon(arguments);
  return kUsageError;
}

}  // namespace

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) { return Run(std::vector<std::wstring>(argv, argv + argc)); }
#else
int main(int argc, char** argv) {
  std::vector<std::wstring> arguments;
  for (int i = 0; i < argc; ++i) arguments.push_back(ovra::WideFromUtf8(argv[i]));
  return Run(arguments);
}
#endif
