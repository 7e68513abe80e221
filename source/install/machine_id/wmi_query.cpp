#include "machine_id/wmi_query.h"

#include <oleauto.h>

#include <system_error>
#include <thread>

#include "ovra/exception.h"
#include "platform/base_board.h"

namespace wmi_query {
namespace {

constexpr long kNextRowTimeoutMs = 120000;

// Owner of one COM interface pointer.
template <typename T>
class ComPointer {
 public:
  ComPointer() = default;
  ~ComPointer() { reset(); }
  ComPointer(const ComPointer&) = delete;
  ComPointer& operator=(const ComPointer&) = delete;

  T* get() const { return pointer_; }
  T* operator->() const { return pointer_; }
  // Releases what it holds and hands out the slot for a call to fill.
  T** out() {
    reset();
    return &pointer_;
  }
  void reset() {
    if (pointer_ != nullptr) pointer_->Release();
    pointer_ = nullptr;
  }

 private:
  T* pointer_ = nullptr;
};

class Bstr {
 public:
  explicit Bstr(const wchar_t* text) : value_(text == nullptr ? nullptr : SysAllocString(text)) {
    if (value_ == nullptr) throw ovra::ResultCodeException(static_cast<ovra::result_t>(E_OUTOFMEMORY));
  }
  ~Bstr() { SysFreeString(value_); }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  BSTR get() const { return value_; }

 private:
  BSTR value_;
};

class Variant {
 public:
  Variant() { VariantInit(&value_); }
  ~Variant() { VariantClear(&value_); }
  Variant(const Variant&) = delete;
  Variant& operator=(const Variant&) = delete;
  VARIANT* get() { return &value_; }

 private:
  VARIANT value_;
};

class ComApartment {
 public:
  ComApartment() : result_(CoInitializeEx(nullptr, COINIT_MULTITHREADED)) {}
  ~ComApartment() {
    if (SUCCEEDED(result_)) CoUninitialize();
  }
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;
  bool entered() const { return SUCCEEDED(result_); }

 private:
  HRESULT result_;
};

// The text in the thread's ANSI code page: first into 4 bytes a character, then into
// the size asked for. Throws the Win32 error when that fails too.
std::string ToThreadAnsi(const std::wstring& text) {
  if (text.empty()) return {};
  const int length = static_cast<int>(text.size());
  std::string converted(text.size() * 4, '\0');
  int written = WideCharToMultiByte(CP_THREAD_ACP, 0, text.data(), length, converted.data(),
                                    static_cast<int>(converted.size()), nullptr, nullptr);
  if (written == 0 && GetLastError() == ERROR_INSUFFICIENT_BUFFER) {
    converted.resize(WideCharToMultiByte(CP_THREAD_ACP, 0, text.data(), length, nullptr, 0, nullptr, nullptr));
    written = WideCharToMultiByte(CP_THREAD_ACP, 0, text.data(), length, converted.data(),
                                  static_cast<int>(converted.size()), nullptr, nullptr);
  }
  if (written == 0) {
    throw ovra::ResultCodeException(ovra::ResultCodeFromWin32Error(static_cast<std::int32_t>(GetLastError())));
  }
  converted.resize(static_cast<std::size_t>(written));
  return converted;
}

// The thread's part of RunOnComThread: COM, COM security, the query.
bool RunInApartment(WmiQuery& query) noexcept {
  const ComApartment apartment;
  if (!apartment.entered()) return false;
  // The process's first initialisation wins; a later one (RPC_E_TOO_LATE) is fine.
  const HRESULT security = CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_DEFAULT,
                                                RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE, nullptr);
  if (FAILED(security) && security != RPC_E_TOO_LATE) return false;
  try {
    return SUCCEEDED(query.Run());
  } catch (...) {
    return false;
  }
}

class WmiBaseBoard final : public platform::BaseBoardSource {
 public:
  bool ReadProductAndSerial(std::string& text) override {
    WmiQuery_MotherBoardSerial query;
    if (!RunOnComThread(query) || query.text().empty()) return false;
    text = query.text();
    return true;
  }
};

}  // namespace

HRESULT WmiQuery::Execute(const wchar_t* query, const RowCallback& callback) {
  const Bstr namespace_name(L"ROOT\\CIMV2");
  const Bstr query_text(query);
  const Bstr language(L"WQL");

  ComPointer<IWbemLocator> locator;
  HRESULT result = CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator,
                                    reinterpret_cast<void**>(locator.out()));
  if (FAILED(result)) return result;
  ComPointer<IWbemServices> services;
  result = locator->ConnectServer(namespace_name.get(), nullptr, nullptr, nullptr, WBEM_FLAG_CONNECT_USE_MAX_WAIT,
                                  nullptr, nullptr, services.out());
  if (FAILED(result)) return result;
  result = CoSetProxyBlanket(services.get(), RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr, RPC_C_AUTHN_LEVEL_CALL,
                             RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE);
  if (FAILED(result)) return result;
  ComPointer<IEnumWbemClassObject> rows;
  result = services->ExecQuery(language.get(), query_text.get(), WBEM_FLAG_FORWARD_ONLY, nullptr, rows.out());
  if (FAILED(result)) return result;

  bool proceed = true;
  while (proceed) {
    ComPointer<IWbemClassObject> row;
    ULONG returned = 0;
    result = rows->Next(kNextRowTimeoutMs, 1, row.out(), &returned);
    if (FAILED(result)) return result;
    if (result != S_OK || returned == 0) return kRowsExhausted;
    result = callback(row.get(), proceed);
    if (FAILED(result)) return result;
  }
  return S_OK;
}

HRESULT GetStringProperty(IWbemClassObject* row, const wchar_t* name, std::wstring* value) {
  Variant property;
  const HRESULT result = row->Get(name, 0, property.get(), nullptr, nullptr);
  if (FAILED(result)) return result;
  if (V_VT(property.get()) != VT_BSTR) return E_UNEXPECTED;
  const BSTR text = V_BSTR(property.get());
  if (text == nullptr || SysStringLen(text) == 0) return E_FAIL;
  if (value == nullptr) return E_POINTER;
  value->assign(text, SysStringLen(text));
  return S_OK;
}

HRESULT WmiQuery_MotherBoardSerial::Run() {
  return Execute(L"SELECT Product, SerialNumber FROM Win32_BaseBoard",
                 [this](IWbemClassObject* row, bool& proceed) { return OnRow(row, proceed); });
}

HRESULT WmiQuery_MotherBoardSerial::OnRow(IWbemClassObject* row, bool& proceed) {
  proceed = false;  // only the first board counts
  std::wstring product, serial;
  HRESULT result = GetStringProperty(row, L"Product", &product);
  if (FAILED(result)) return result;
  result = GetStringProperty(row, L"SerialNumber", &serial);
  if (FAILED(result)) return result;
  text_ = ToThreadAnsi(product) + ToThreadAnsi(serial);
  return S_OK;
}

bool RunOnComThread(WmiQuery& query) {
  bool succeeded = false;
  try {
    std::thread worker([&query, &succeeded] { succeeded = RunInApartment(query); });
    worker.join();
  } catch (const std::system_error&) {
    return false;  // no thread
  }
  return succeeded;
}

}  // namespace wmi_query

namespace platform {

BaseBoardSource& SystemBaseBoard() {
  static wmi_query::WmiBaseBoard source;
  return source;
}

}  // namespace platform
