// Windows Management Instrumentation queries (Windows only). A query runs on a thread
// of its own that sets up COM itself, so the caller's COM state does not matter.
#pragma once

#include <windows.h>
#include <wbemidl.h>

#include <functional>
#include <string>

namespace wmi_query {

// Receives each row; `proceed` is true on entry, and clearing it ends the enumeration
// after this row. A negative result ends it with that result.
using RowCallback = std::function<HRESULT(IWbemClassObject* row, bool& proceed)>;

// Returned by Execute when the rows ran out, or WMI's wait for the next one did.
constexpr HRESULT kRowsExhausted = 0x103;  // the value of ERROR_NO_MORE_ITEMS, as a success

class WmiQuery {
 public:
  virtual ~WmiQuery() = default;
  virtual HRESULT Run() = 0;

 protected:
  // Runs the WQL `query` against ROOT\CIMV2 on the calling thread (whose COM the caller
  // has set up): negative on failure, 0 when the callback stopped it, kRowsExhausted when
  // the rows ran out first. Throws ovra::ResultCodeException for E_OUTOFMEMORY when
  // a string cannot be allocated.
  HRESULT Execute(const wchar_t* query, const RowCallback& callback);
};

// A string property of `row`: S_OK with the text in *value; the failure of the read;
// E_UNEXPECTED for a value that is not a string, E_FAIL for a null or empty one,
// E_POINTER when `value` is null.
HRESULT GetStringProperty(IWbemClassObject* row, const wchar_t* name, std::wstring* value);

// "SELECT Product, SerialNumber FROM Win32_BaseBoard": the first row's Product followed
// directly by its SerialNumber, in the thread's ANSI code page.
class WmiQuery_MotherBoardSerial final : public WmiQuery {
 public:
  HRESULT Run() override;
  // Empty until a row was read.
  const std::string& text() const { return text_; }

 private:
  HRESULT OnRow(IWbemClassObject* row, bool& proceed);
  std::string text_;
};

// Runs `query` on a new thread in a multithreaded COM apartment, with the process's
// COM security initialised (or left as it was, when already initialised). True when
// the thread ran and Run() returned a value that is not negative; an exception inside
// counts as failure.
bool RunOnComThread(WmiQuery& query);

}  // namespace wmi_query
