// The process-wide user-interface and log settings (MsiSetInternalUI,
// MsiSetExternalUIW, MsiEnableLogW), and the message channel of one
// installation: every message goes to the external handler (when its filter
// takes the type) and to the log (when its mode does), as msi.dll sends them.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "msi.h"

namespace linux_msi {

struct UiSettings {
  INSTALLUILEVEL internal_level = INSTALLUILEVEL_DEFAULT;
  INSTALLUI_HANDLERW handler = nullptr;
  DWORD filter = 0;
  LPVOID context = nullptr;
  DWORD log_mode = 0;
  std::wstring log_path;  // empty: no log
  DWORD log_attributes = 0;
};

INSTALLUILEVEL SetInternalUiLevel(INSTALLUILEVEL level);
INSTALLUI_HANDLERW SetExternalUiHandler(INSTALLUI_HANDLERW handler, DWORD filter, LPVOID context);
UINT SetLog(DWORD mode, LPCWSTR path, DWORD attributes);
// The settings in force now, copied for one installation.
UiSettings CurrentUiSettings();

// "H:MM:SS", local time, as action messages show it.
std::wstring ClockText();

class MessageChannel {
 public:
  explicit MessageChannel(UiSettings settings);
  ~MessageChannel();
  MessageChannel(const MessageChannel&) = delete;
  MessageChannel& operator=(const MessageChannel&) = delete;

  // Sends a message of `type` (INSTALLMESSAGE_* and flags) and returns the
  // handler's answer, 0 when no handler took it. IDCANCEL (and IDABORT to an
  // error) marks the installation cancelled.
  int Send(UINT type, const std::wstring& text);
  // A line for the log alone, written in verbose mode.
  void Verbose(const std::wstring& line);
  // A "Property(S): NAME = value" line, when the log mode asks for the dump.
  void PropertyDump(const std::wstring& name, const std::wstring& value);
  bool cancelled() const { return cancelled_; }
  // Ends the log: with INSTALLLOGMODE_LOGONLYONERROR the kept lines are
  // written only when `result` is a failure.
  void Finish(UINT result);

 private:
  void WriteLog(const std::wstring& line);

  const UiSettings settings_;
  std::FILE* log_ = nullptr;
  bool cancelled_ = false;
  bool finished_ = false;
  std::vector<std::string> held_;  // log lines kept back until the result is known
};

}  // namespace linux_msi
