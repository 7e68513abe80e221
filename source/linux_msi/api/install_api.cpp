// The engine's C functions on packages: install handles (MsiOpenPackageW and
// the calls that take one), the UI and log settings, and the installation and
// removal of products.
#include "engine/session.h"
#include "api/boundary.h"
#include "engine/text.h"
#include "api/msi_objects.h"
#include "ovra/strings.h"

using namespace linux_msi;

namespace {

constexpr UINT kInvalidCommandLine = 1639;  // ERROR_INVALID_COMMAND_LINE
constexpr UINT kInstallSourceAbsent = 1612;  // ERROR_INSTALL_SOURCE_ABSENT

class PackageObject : public HandleObject {
 public:
  static constexpr HandleKind kKind = HandleKind::kPackage;
  explicit PackageObject(std::shared_ptr<Session> session) : HandleObject(kKind), session_(std::move(session)) {}
  Session& session() const { return *session_; }

 private:
  std::shared_ptr<Session> session_;
};

std::shared_ptr<PackageObject> FindPackage(MSIHANDLE handle) {
  return HandleTable::Instance().Find<PackageObject>(handle);
}

// Formatted text over a record's fields, with the properties of a session (or none).
class RecordFormat : public FormatContext {
 public:
  RecordFormat(const Session* session, MSIHANDLE record) : session_(session), record_(record) {}
  std::wstring Property(const std::wstring& name) const override {
    return session_ ? session_->Property(name) : std::wstring();
  }
  std::wstring Environment(const std::wstring& name) const override {
    return session_ ? session_->Environment(name) : std::wstring();
  }
  std::wstring FilePath(const std::wstring& key) const override {
    return session_ ? session_->FilePath(key) : std::wstring();
  }
  std::wstring ComponentDirectory(const std::wstring& key) const override {
    return session_ ? session_->ComponentDirectory(key) : std::wstring();
  }
  bool RecordField(unsigned index, std::wstring& text) const override {
    if (index > MsiRecordGetFieldCount(record_)) {
      return false;
    }
    text = Field(record_, index);
    return true;
  }
  static std::wstring Field(MSIHANDLE record, unsigned index) { return RecordFieldText(record, index); }

 private:
  const Session* session_;
  MSIHANDLE record_;
};

UINT InstallPackage(const std::wstring& path, const std::wstring& command_line, bool remove) {
  std::shared_ptr<Session> session;
  const UINT opened = Session::Open(path, session);
  if (opened == ERROR_FILE_NOT_FOUND) {
    return ERROR_INSTALL_PACKAGE_OPEN_FAILED;
  }
  if (opened != ERROR_SUCCESS) {
    return opened;
  }
  if (!session->ApplyCommandLine(command_line)) {
    return kInvalidCommandLine;
  }
  if (remove) {
    session->SetProperty(L"REMOVE", L"ALL");
  }
  return session->Install();
}

}  // namespace

extern "C" {

INSTALLUILEVEL WINAPI MsiSetInternalUI(INSTALLUILEVEL dwUILevel, HWND* phWnd) {
  return Guarded(INSTALLUILEVEL_NOCHANGE, [&] { return SetInternalUiLevel(dwUILevel); });
}

INSTALLUI_HANDLERW WINAPI MsiSetExternalUIW(INSTALLUI_HANDLERW puiHandler, DWORD dwMessageFilter, LPVOID pvContext) {
  return Guarded<INSTALLUI_HANDLERW>(nullptr,
                                     [&] { return SetExternalUiHandler(puiHandler, dwMessageFilter, pvContext); });
}

UINT WINAPI MsiEnableLogW(DWORD dwLogMode, LPCWSTR szLogFile, DWORD dwLogAttributes) {
  return Guarded(ERROR_FUNCTION_FAILED, [&]() -> UINT {
    if (dwLogMode && !szLogFile) {
      return ERROR_INVALID_PARAMETER;
    }
    return SetLog(dwLogMode, szLogFile, dwLogAttributes);
  });
}

UINT WINAPI MsiOpenPackageW(LPCWSTR szPackagePath, MSIHANDLE* hProduct) {
  return Guarded(ERROR_INSTALL_FAILURE, [&]() -> UINT {
    if (!szPackagePath || !hProduct) {
      return ERROR_INVALID_PARAMETER;
    }
    std::shared_ptr<Session> session;
    const UINT opened = Session::Open(szPackagePath, session);
    if (opened != ERROR_SUCCESS) {
      return opened;
    }
    const MSIHANDLE handle = HandleTable::Instance().Add(std::make_shared<PackageObject>(std::move(session)));
    if (handle == 0) {
      return ERROR_NOT_ENOUGH_MEMORY;
    }
    *hProduct = handle;
    return ERROR_SUCCESS;
  });
}

MSIHANDLE WINAPI MsiGetActiveDatabase(MSIHANDLE hInstall) {
  return Guarded<MSIHANDLE>(0, [&]() -> MSIHANDLE {
    const auto package = FindPackage(hInstall);
    MSIHANDLE database = 0;
    if (package) {
      const std::wstring path = ovra::WideFromUtf8(package->session().package_path());
      MsiOpenDatabaseW(path.c_str(), MSIDBOPEN_READONLY, &database);
    }
    return database;
  });
}

UINT WINAPI MsiGetPropertyW(MSIHANDLE hInstall, LPCWSTR szName, LPWSTR szValueBuf, LPDWORD pcchValueBuf) {
  return Guarded(ERROR_FUNCTION_FAILED, [&]() -> UINT {
    if (!szName || (szValueBuf && !pcchValueBuf)) {
      return ERROR_INVALID_PARAMETER;
    }
    const auto package = FindPackage(hInstall);
    if (!package) {
      return ERROR_INVALID_HANDLE;
    }
    const std::wstring value = package->session().Property(szName);
    return pcchValueBuf ? CopyToBuffer(value, szValueBuf, pcchValueBuf) : ERROR_SUCCESS;
  });
}

UINT WINAPI MsiSetPropertyW(MSIHANDLE hInstall, LPCWSTR szName, LPCWSTR szValue) {
  return Guarded(ERROR_FUNCTION_FAILED, [&]() -> UINT {
    if (!szName || !szName[0]) {
      return ERROR_INVALID_PARAMETER;
    }
    const auto package = FindPackage(hInstall);
    if (!package) {
      return ERROR_INVALID_HANDLE;
    }
    package->session().SetProperty(szName, szValue ? szValue : L"");
    return ERROR_SUCCESS;
  });
}

MSICONDITION WINAPI MsiEvaluateConditionW(MSIHANDLE hInstall, LPCWSTR szCondition) {
  return Guarded(MSICONDITION_ERROR, [&]() -> MSICONDITION {
    const auto package = FindPackage(hInstall);
    if (!package) {
      return MSICONDITION_ERROR;
    }
    if (!szCondition) {
      return MSICONDITION_NONE;
    }
    Session& session = package->session();
    std::lock_guard<std::recursive_mutex> lock(session.mutex());
    return static_cast<MSICONDITION>(EvaluateCondition(szCondition, session));
  });
}

UINT WINAPI MsiFormatRecordW(MSIHANDLE hInstall, MSIHANDLE hRecord, LPWSTR szResultBuf, LPDWORD pcchResultBuf) {
  return Guarded(ERROR_FUNCTION_FAILED, [&]() -> UINT {
    if (szResultBuf && !pcchResultBuf) {
      return ERROR_INVALID_PARAMETER;
    }
    const auto package = FindPackage(hInstall);
    if (hInstall != 0 && !package) {
      return ERROR_INVALID_HANDLE;
    }
    const UINT fields = MsiRecordGetFieldCount(hRecord);
    if (fields == static_cast<UINT>(-1)) {
      return ERROR_INVALID_HANDLE;
    }
    std::wstring text;
    if (MsiRecordIsNull(hRecord, 0)) {
      // No template: each non-null field as "N: value ".
      for (UINT field = 1; field <= fields; ++field) {
        if (!MsiRecordIsNull(hRecord, field)) {
          text += std::to_wstring(field) + L": " + RecordFormat::Field(hRecord, field) + L" ";
        }
      }
    } else {
      const Session* session = package ? &package->session() : nullptr;
      std::unique_lock<std::recursive_mutex> lock;
      if (package) {
        lock = std::unique_lock<std::recursive_mutex>(package->session().mutex());
      }
      text = FormatText(RecordFormat::Field(hRecord, 0), RecordFormat(session, hRecord));
    }
    return pcchResultBuf ? CopyToBuffer(text, szResultBuf, pcchResultBuf) : ERROR_SUCCESS;
  });
}

UINT WINAPI MsiDoActionW(MSIHANDLE hInstall, LPCWSTR szAction) {
  return Guarded(ERROR_INSTALL_FAILURE, [&]() -> UINT {
    if (!szAction || !szAction[0]) {
      return ERROR_INVALID_PARAMETER;
    }
    const auto package = FindPackage(hInstall);
    if (!package) {
      return ERROR_INVALID_HANDLE;
    }
    return package->session().DoAction(szAction);
  });
}

UINT WINAPI MsiGetTargetPathW(MSIHANDLE hInstall, LPCWSTR szFolder, LPWSTR szPathBuf, LPDWORD pcchPathBuf) {
  return Guarded(ERROR_FUNCTION_FAILED, [&]() -> UINT {
    if (!szFolder || (szPathBuf && !pcchPathBuf)) {
      return ERROR_INVALID_PARAMETER;
    }
    const auto package = FindPackage(hInstall);
    if (!package) {
      return ERROR_INVALID_HANDLE;
    }
    std::wstring path;
    const UINT result = package->session().GetTargetPath(szFolder, path);
    if (result != ERROR_SUCCESS || !pcchPathBuf) {
      return result;
    }
    return CopyToBuffer(path, szPathBuf, pcchPathBuf);
  });
}

UINT WINAPI MsiGetFeatureStateW(MSIHANDLE hInstall, LPCWSTR szFeature, INSTALLSTATE* piInstalled,
                                INSTALLSTATE* piAction) {
  return Guarded(ERROR_FUNCTION_FAILED, [&]() -> UINT {
    if (!szFeature || !piInstalled || !piAction) {
      return ERROR_INVALID_PARAMETER;
    }
    const auto package = FindPackage(hInstall);
    if (!package) {
      return ERROR_INVALID_HANDLE;
    }
    int installed = INSTALLSTATE_UNKNOWN;
    int action = INSTALLSTATE_UNKNOWN;
    const UINT result = package->session().GetFeatureState(szFeature, installed, action);
    if (result == ERROR_SUCCESS) {
      *piInstalled = static_cast<INSTALLSTATE>(installed);
      *piAction = static_cast<INSTALLSTATE>(action);
    }
    return result;
  });
}

UINT WINAPI MsiInstallProductW(LPCWSTR szPackagePath, LPCWSTR szCommandLine) {
  return Guarded(ERROR_INSTALL_FAILURE, [&]() -> UINT {
    if (!szPackagePath) {
      return ERROR_INVALID_PARAMETER;
    }
    return InstallPackage(szPackagePath, szCommandLine ? szCommandLine : L"", false);
  });
}

UINT WINAPI MsiConfigureProductExW(LPCWSTR szProduct, int iInstallLevel, INSTALLSTATE eInstallState,
                                   LPCWSTR szCommandLine) {
  return Guarded(ERROR_INSTALL_FAILURE, [&]() -> UINT {
    if (!IsGuid(szProduct)) {
      return ERROR_INVALID_PARAMETER;
    }
    if (eInstallState != INSTALLSTATE_ABSENT && eInstallState != INSTALLSTATE_LOCAL &&
        eInstallState != INSTALLSTATE_DEFAULT) {
      return ERROR_INVALID_PARAMETER;
    }
    const std::shared_ptr<ProductStore> store = ProductStore::ForCurrentHome();
    if (!store) {
      return ERROR_INSTALL_FAILURE;
    }
    std::wstring cached;
    const UINT known = store->GetInfo(AsciiUpper(szProduct), L"LocalPackage", cached);
    if (known == ERROR_UNKNOWN_PRODUCT) {
      return ERROR_UNKNOWN_PRODUCT;
    }
    if (known != ERROR_SUCCESS || cached.empty()) {
      return kInstallSourceAbsent;
    }
    std::wstring command_line = szCommandLine ? szCommandLine : L"";
    if (iInstallLevel != INSTALLLEVEL_DEFAULT && eInstallState != INSTALLSTATE_ABSENT) {
      command_line += L" INSTALLLEVEL=" + std::to_wstring(iInstallLevel);
    }
    const UINT result = InstallPackage(cached, command_line, eInstallState == INSTALLSTATE_ABSENT);
    return result == ERROR_INSTALL_PACKAGE_OPEN_FAILED ? kInstallSourceAbsent : result;
  });
}

}  // extern "C"
