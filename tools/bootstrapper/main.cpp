// The bootstrapper's side of the handshake with the user interface, for development
// and tests. It does what the product's setup program does, without a splash window.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "installer_vesk/bootstrapper_objects.h"
#include "msi_wrapper/package_file.h"
#include "ovra/strings.h"
#include "platform/child_process.h"
#include "platform/named_event.h"
#include "platform/paths.h"
#include "platform/shared_memory.h"

namespace {

constexpr char kUsage[] =
    "usage: bootstrapper --package FILE --dir DIR [--host NAME] [--ready-delay MS] [/log DIR] [/OPTION]...\n"
    "                    -- PROGRAM [ARGUMENT]...\n"
    "\n"
    "Creates the package-ready and hide-splash events and the command-line block, writes\n"
    "its own command line into the block, copies FILE into DIR as %s,\n"
    "signals that the package is ready and starts PROGRAM with DIR as its working\n"
    "directory. It says when the user interface asks to hide the splash screen; when\n"
    "PROGRAM ends it removes its objects and exits with PROGRAM's exit code. Ctrl+C\n"
    "is left to PROGRAM while it runs.\n"
    "\n"
    "  --package FILE    the package to extract\n"
    "  --dir DIR         where it goes (created if missing); PROGRAM's working directory\n"
    "  --host NAME       copy PROGRAM into DIR as NAME and start the copy, so that the\n"
    "                    package lies beside the user interface's executable\n"
    "  --ready-delay MS  start PROGRAM first and signal readiness MS milliseconds later\n"
    "  /log DIR, /X      for the user interface, which reads them from the block; ignored here\n"
    "  --help            this text\n"
    "\n"
    "Exit status: PROGRAM's; 1 when a step fails before PROGRAM ends; 2 for a usage error.\n";

constexpr int kFailed = 1;
constexpr int kUsageError = 2;

struct Options {
  std::wstring package;
  std::wstring directory;
  std::wstring host_name;  // empty: PROGRAM is started where it is
  long ready_delay_ms = -1;  // -1: signal before the program starts
  std::vector<std::wstring> program;
};

void Say(const std::string& text) {
  std::printf("bootstrapper: %s\n", text.c_str());
  std::fflush(stdout);
}

std::string Narrow(const std::wstring& text) { return ovra::Utf8FromWide(text); }

std::filesystem::path PathOf(const std::wstring& text) { return platform::PathFromWide(text); }

// kUsage names the package file through its one %s.
void PrintUsage(std::FILE* stream) {
  std::fprintf(stream, kUsage, Narrow(installer::msi_wrapper::DefaultMsiFileName).c_str());
}

// False (after saying why) for a usage error.
bool ParseOptions(const std::vector<std::wstring>& arguments, Options& options, bool& help) {
  for (std::size_t i = 1; i < arguments.size(); ++i) {
    const std::wstring& argument = arguments[i];
    const auto value = [&](std::wstring& into) {
      if (i + 1 >= arguments.size()) {
        std::fprintf(stderr, "bootstrapper: %s needs a value\n", Narrow(argument).c_str());
        return false;
      }
      into = arguments[++i];
      return true;
    };
    if (argument == L"--") {
      options.program.assign(arguments.begin() + static_cast<std::ptrdiff_t>(i) + 1, arguments.end());
      break;
    } else if (argument == L"--help") {
      help = true;
      return true;
    } else if (argument == L"--package") {
      if (!value(options.package)) return false;
    } else if (argument == L"--dir") {
      if (!value(options.directory)) return false;
    } else if (argument == L"--host") {
      if (!value(options.host_name)) return false;
    } else if (argument == L"--ready-delay") {
      std::wstring text;
      if (!value(text)) return false;
      wchar_t* end = nullptr;
      options.ready_delay_ms = std::wcstol(text.c_str(), &end, 10);
      if (text.empty() || *end != L'\0' || options.ready_delay_ms < 0) {
        std::fprintf(stderr, "bootstrapper: --ready-delay takes milliseconds, not %s\n", Narrow(text).c_str());
        return false;
      }
    } else if (argument == L"/log") {
      std::wstring ignored;
      if (!value(ignored)) return false;
    } else if (argument.size() > 1 && argument[0] == L'/') {
      // another option for the user interface
    } else {
      std::fprintf(stderr, "bootstrapper: unknown argument %s\n", Narrow(argument).c_str());
      return false;
    }
  }
  if (options.package.empty() || options.directory.empty() || options.program.empty()) {
    std::fprintf(stderr, "bootstrapper: --package, --dir and a program after -- are required\n");
    return false;
  }
  return true;
}

// Our objects, removed when this goes out of scope.
struct HandshakeObjects {
  platform::NamedEvent ready;
  platform::NamedEvent splash;
  platform::SharedMemory block;
  platform::SharedMemoryView view;
};

bool CreateObjects(HandshakeObjects& objects, const std::wstring& command_line) {
  if (platform::ErrorCode error = objects.ready.Create(installer::kMsiReadyEventName)) {
    Say("cannot create the package-ready event: " + std::to_string(error));
    return false;
  }
  if (platform::ErrorCode error = objects.splash.Create(installer::kSplashEventName)) {
    Say("cannot create the hide-splash event: " + std::to_string(error));
    return false;
  }
  platform::ErrorCode error = objects.block.CreateOrOpen(installer::kCommandLineBlockName,
                                                         static_cast<std::uint32_t>(installer::kCommandLineBlockSize));
  if (error == 0) {
    error = objects.block.Map(platform::ViewAccess::kReadWrite, installer::kCommandLineBlockSize, objects.view);
  }
  if (error != 0) {
    Say("cannot create the command-line block: " + std::to_string(error));
    return false;
  }
  if (!installer::WriteCommandLineText(objects.view.data(), objects.view.size(), command_line)) {
    Say("the command line is longer than " + std::to_string(installer::kCommandLineMaxUnits) +
        " characters: the block holds its beginning");
  }
  return true;
}

bool ExtractPackage(const Options& options) {
  std::error_code error;
  const std::filesystem::path directory = PathOf(options.directory);
  std::filesystem::create_directories(directory, error);
  const std::filesystem::path target = directory / PathOf(installer::msi_wrapper::DefaultMsiFileName);
  if (!error) {
    std::filesystem::copy_file(PathOf(options.package), target, std::filesystem::copy_options::overwrite_existing,
                               error);
  }
  if (error) {
    Say("cannot copy the package to " + target.u8string() + ": " + error.message());
    return false;
  }
  return true;
}

// Puts a copy of PROGRAM into DIR under the host name and makes that copy the
// program to start.
bool CopyHost(Options& options) {
  const std::filesystem::path source = PathOf(options.program[0]);
  const std::filesystem::path target = PathOf(options.directory) / PathOf(options.host_name);
  std::error_code error;
  platform::CopyExecutable(source, target, error);
  if (error) {
    Say("cannot copy " + source.u8string() + " to " + target.u8string() + ": " + error.message());
    return false;
  }
  options.program[0] = platform::WideFromPath(target);
  return true;
}

bool SignalReady(HandshakeObjects& objects) {
  if (platform::ErrorCode error = objects.ready.Set()) {
    Say("cannot signal the package-ready event: " + std::to_string(error));
    return false;
  }
  Say("package ready");
  return true;
}

int Run(const std::vector<std::wstring>& arguments, const std::wstring& command_line) {
  Options options;
  bool help = false;
  if (!ParseOptions(arguments, options, help)) {
    PrintUsage(stderr);
    return kUsageError;
  }
  if (help) {
    PrintUsage(stdout);
    return 0;
  }

  HandshakeObjects objects;
  if (!CreateObjects(objects, command_line) || !ExtractPackage(options)) return kFailed;
  if (!options.host_name.empty() && !CopyHost(options)) return kFailed;
  const bool delayed = options.ready_delay_ms >= 0;
  if (!delayed && !SignalReady(objects)) return kFailed;

  // Watches the hide-splash event until the user interface sets it or has ended.
  std::atomic<bool> interface_ended{false};
  std::thread splash_watcher([&objects, &interface_ended] {
    const std::uint32_t result = objects.splash.Wait();
    if (interface_ended.load()) return;
    Say(result == platform::kWaitSignalled ? "splash screen hidden"
                                           : "waiting for the hide-splash event failed: " + std::to_string(result));
  });

  platform::ChildProcess interface_process;
  int exit_code = kFailed;
  if (platform::ErrorCode error = interface_process.Start(options.program, options.directory)) {
    Say("cannot start " + Narrow(options.program[0]) + ": " + std::to_string(error));
  } else {
    // From now on Ctrl+C is for the user interface alone, as a shell leaves it to
    // the job it waits for; set only now, so that the child does not inherit it.
    platform::IgnoreInterrupts();
    if (delayed) {
      std::this_thread::sleep_for(std::chrono::milliseconds(options.ready_delay_ms));
      SignalReady(objects);
    }
    std::uint32_t code = 0;
    if (platform::ErrorCode error = interface_process.Wait(code)) {
      Say("waiting for the user interface failed: " + std::to_string(error));
    } else {
      Say("user interface exited with " + std::to_string(code));
      exit_code = static_cast<int>(code);
    }
  }
  // Set now means the user interface set it; otherwise the watcher is woken with word
  // that nobody did.
  if (!objects.splash.IsSet()) {
    interface_ended = true;
    objects.splash.Set();
  }
  splash_watcher.join();
  return exit_code;
}

}  // namespace

// The user interface expects a Windows command line in the block.
int main(int argc, char** argv) {
  return Run(platform::ProcessArguments(argc, argv), platform::ProcessCommandLine(argc, argv));
}
