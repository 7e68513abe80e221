#include "engine/messages.h"

#include <ctime>
#include <mutex>

#include "ovra/strings.h"

namespace linux_msi {
namespace {

std::mutex settings_mutex;
UiSettings settings;

DWORD TypeBit(UINT type) { return 1u << ((type >> 24) & 0x1F); }

std::tm LocalNow() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return local;
}

std::wstring Format(const char* pattern, const std::tm& time) {
  char text[64];
  const std::size_t length = std::strftime(text, sizeof text, pattern, &time);
  return ovra::WideFromUtf8(std::string(text, length));
}

bool IsValidLevel(int level) {
  const int base = level & 0x0F;
  const int flags = level & ~0x0F;
  const int known_flags = INSTALLUILEVEL_HIDECANCEL | INSTALLUILEVEL_PROGRESSONLY | INSTALLUILEVEL_ENDDIALOG |
                          INSTALLUILEVEL_SOURCERESONLY | INSTALLUILEVEL_UACONLY;
  return base <= INSTALLUILEVEL_FULL && (flags & ~known_flags) == 0;
}

}  // namespace

INSTALLUILEVEL SetInternalUiLevel(INSTALLUILEVEL level) {
  if (!IsValidLevel(level)) {
    return INSTALLUILEVEL_NOCHANGE;
  }
  std::lock_guard<std::mutex> lock(settings_mutex);
  const INSTALLUILEVEL previous = settings.internal_level;
  if ((level & 0x0F) != INSTALLUILEVEL_NOCHANGE) {
    settings.internal_level = level;
  }
  return previous;
}

INSTALLUI_HANDLERW SetExternalUiHandler(INSTALLUI_HANDLERW handler, DWORD filter, LPVOID context) {
  std::lock_guard<std::mutex> lock(settings_mutex);
  const INSTALLUI_HANDLERW previous = settings.handler;
  settings.handler = handler;
  settings.filter = handler ? filter : 0;
  settings.context = context;
  return previous;
}

UINT SetLog(DWORD mode, LPCWSTR path, DWORD attributes) {
  std::lock_guard<std::mutex> lock(settings_mutex);
  settings.log_path = path && mode ? path : L"";
  settings.log_mode = mode;
  settings.log_attributes = attributes;
  return ERROR_SUCCESS;
}

UiSettings CurrentUiSettings() {
  std::lock_guard<std::mutex> lock(settings_mutex);
  return settings;
}

std::wstring ClockText() {
  const std::tm now = LocalNow();
  return std::to_wstring(now.tm_hour) + Format(":%M:%S", now);
}

MessageChannel::MessageChannel(UiSettings ui) : settings_(std::move(ui)) {
  if (!settings_.log_path.empty()) {
    const bool append = (settings_.log_attributes & INSTALLLOGATTRIBUTES_APPEND) != 0;
    log_ = std::fopen(ovra::Utf8FromWide(settings_.log_path).c_str(), append ? "a" : "w");
  }
  const std::tm now = LocalNow();
  WriteLog(L"=== Logging started: " + Format("%m/%d/%Y  %H:%M:%S", now) + L" ===");
}

MessageChannel::~MessageChannel() {
  if (!finished_) {
    Finish(ERROR_INSTALL_FAILURE);
  }
  if (log_) {
    std::fclose(log_);
  }
}

int MessageChannel::Send(UINT type, const std::wstring& text) {
  const UINT kind = type & 0xFF000000u;
  const bool verbose = (settings_.log_mode & INSTALLLOGMODE_VERBOSE) != 0;
  // PROGRESS, INITIALIZE and TERMINATE share their bits with log-only modes:
  // they go to the handler alone.
  const bool handler_only = kind == INSTALLMESSAGE_PROGRESS || kind == INSTALLMESSAGE_INITIALIZE ||
                            kind == INSTALLMESSAGE_TERMINATE || kind == INSTALLMESSAGE_SHOWDIALOG;
  if (!handler_only && (verbose || (settings_.log_mode & TypeBit(kind)))) {
    WriteLog(text);
  }
  int answer = 0;
  if (settings_.handler && (settings_.filter & TypeBit(kind))) {
    answer = settings_.handler(settings_.context, type, text.c_str());
  }
  if (answer == IDCANCEL || (answer == IDABORT && kind == INSTALLMESSAGE_ERROR)) {
    cancelled_ = true;
  }
  return answer;
}

void MessageChannel::Verbose(const std::wstring& line) {
  if (settings_.log_mode & INSTALLLOGMODE_VERBOSE) {
    WriteLog(line);
  }
}

void MessageChannel::PropertyDump(const std::wstring& name, const std::wstring& value) {
  if (settings_.log_mode & INSTALLLOGMODE_PROPERTYDUMP) {
    WriteLog(L"Property(S): " + name + L" = " + value);
  }
}

void MessageChannel::Finish(UINT result) {
  if (finished_) {
    return;
  }
  finished_ = true;
  const std::tm now = LocalNow();
  WriteLog(L"MainEngineThread is returning " + std::to_wstring(result));
  WriteLog(L"=== Logging stopped: " + Format("%m/%d/%Y  %H:%M:%S", now) + L" ===");
  const bool failed = result != ERROR_SUCCESS && result != ERROR_SUCCESS_REBOOT_REQUIRED;
  if (log_ && failed) {
    for (const std::string& line : held_) {
      std::fputs(line.c_str(), log_);
    }
  }
  held_.clear();
  if (log_) {
    std::fflush(log_);
  }
}

void MessageChannel::WriteLog(const std::wstring& line) {
  if (!log_ || line.empty()) {
    return;
  }
  std::string text = ovra::Utf8FromWide(line) + "\n";
  if (settings_.log_mode & INSTALLLOGMODE_LOGONLYONERROR) {
    held_.push_back(std::move(text));
    return;
  }
  std::fputs(text.c_str(), log_);
  if (settings_.log_attributes & INSTALLLOGATTRIBUTES_FLUSHEACHLINE) {
    std::fflush(log_);
  }
}

}  // namespace linux_msi
