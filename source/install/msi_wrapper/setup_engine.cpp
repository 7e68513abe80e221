#include "msi_wrapper/setup_engine.h"

#include <atomic>
#include <map>

#include "msi_wrapper/msi_handle.h"
#include "msi_wrapper/package_queries.h"

namespace installer::msi_wrapper {

namespace {

// ERROR, WARNING, OUTOFDISKSPACE, ACTIONSTART, ACTIONDATA and PROGRESS.
constexpr DWORD kHandlerFilter = 0x786;

class MsiSetupManager;
std::atomic<MsiSetupManager*> live_engine{nullptr};

INT WINAPI InstallUiHandler(LPVOID context, UINT type, LPCWSTR text);

// Reinstalls the handler in force before an operation.
class PreviousInstallUIHandler {
 public:
  explicit PreviousInstallUIHandler(INSTALLUI_HANDLERW handler) : handler_(handler) {}
  virtual ~PreviousInstallUIHandler() { MsiSetExternalUIW(handler_, 0, nullptr); }
  PreviousInstallUIHandler(const PreviousInstallUIHandler&) = delete;
  PreviousInstallUIHandler& operator=(const PreviousInstallUIHandler&) = delete;

 private:
  INSTALLUI_HANDLERW handler_;
};

// Sets the internal UI level in force before an operation again.
class PreviousInstallUILevel {
 public:
  explicit PreviousInstallUILevel(INSTALLUILEVEL level) : level_(level) {}
  virtual ~PreviousInstallUILevel() { MsiSetInternalUI(level_, nullptr); }
  PreviousInstallUILevel(const PreviousInstallUILevel&) = delete;
  PreviousInstallUILevel& operator=(const PreviousInstallUILevel&) = delete;

 private:
  INSTALLUILEVEL level_;
};

class MsiSetupManager : public MsiSetupManagerInterface {
 public:
  MsiSetupManager(SetupProgressCallback callback, std::wstring log_path)
      : callback_(std::move(callback)), package_(DefaultMsiFileName), log_path_(std::move(log_path)) {}
  ~MsiSetupManager() override {
    MsiSetupManager* self = this;
    live_engine.compare_exchange_strong(self, nullptr);
  }

  UINT RunPreinstallTask(const std::vector<SetupParameter>& parameters, int log_level) const override {
    return RunFramed(log_level, [&] {
      MSIHANDLE opened = 0;
      const UINT open = MsiOpenPackageW(package_.c_str(), &opened);
      if (open != ERROR_SUCCESS) {
        return open;
      }
      const UniqueMsiHandle install(opened);
      for (const SetupParameter& parameter : parameters) {
        const UINT set = MsiSetPropertyW(install.get(), parameter.name.c_str(), parameter.value.c_str());
        if (set != ERROR_SUCCESS) {
          return set;
        }
      }
      const UINT level = MsiSetPropertyW(install.get(), L"INSTALLLEVEL", L"32767");
      if (level != ERROR_SUCCESS) {
        return level;
      }
      const UINT walked = RunExecuteSequenceUpTo(install.get(), L"LaunchConditions");
      if (walked != ERROR_SUCCESS) {
        return walked;
      }
      for (const wchar_t* action : {L"CostInitialize", L"FileCost", L"CostFinalize", L"InstallValidate"}) {
        const UINT result = MsiDoActionW(install.get(), action);
        if (result != ERROR_SUCCESS) {
          return result;
        }
      }
      return static_cast<UINT>(ERROR_SUCCESS);
    });
  }

  UINT RunSetupTask(const std::vector<SetupParameter>& parameters, int log_level) const override {
    return RunFramed(log_level, [&] {
      return MsiInstallProductW(package_.c_str(), FormatCommandLine(parameters).c_str());
    });
  }

  UINT RunUninstallProduct(std::wstring product_code, std::wstring command_line, int log_level) const override {
    return RunFramed(log_level, [&] {
      return MsiConfigureProductExW(product_code.c_str(), INSTALLLEVEL_DEFAULT, INSTALLSTATE_ABSENT,
                                    command_line.c_str());
    });
  }

  // The external handler's work for one message.
  int OnMessage(UINT type, LPCWSTR text) const {
    if (!callback_ || !ApplyInstallMessage(state_, type, text)) {
      return 0;
    }
    SetupProgress record;
    record.action = state_.actionText;
    switch (type & 0xFF000000u) {
      case INSTALLMESSAGE_ERROR:
      case INSTALLMESSAGE_OUTOFDISKSPACE:
        record.kind = ProgressMessageKind::Error;
        break;
      case INSTALLMESSAGE_WARNING:
        record.kind = ProgressMessageKind::Warning;
        break;
      case INSTALLMESSAGE_ACTIONDATA:
      case INSTALLMESSAGE_PROGRESS:
        record.kind = ProgressMessageKind::Progress;
        record.progress = ProgressPercentage(state_);
        record.forward = state_.forward;
        break;
      default:
        return 0;
    }
    return callback_(record);
  }

 private:
  // The frame every operation shares: fresh progress, the log, the handler
  // and UI level in force only while the operation runs.
  template <typename Operation>
  UINT RunFramed(int log_level, Operation operation) const {
    state_ = ProgressState();
    if (!log_path_.empty()) {
      MsiEnableLogW(MsiLogModeForLevel(log_level), log_path_.c_str(), INSTALLLOGATTRIBUTES_APPEND);
    }
    const PreviousInstallUIHandler handler(MsiSetExternalUIW(InstallUiHandler, kHandlerFilter, nullptr));
    const PreviousInstallUILevel level(MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr));
    return operation();
  }

  // Runs, in Sequence order, the execute-sequence actions whose condition holds,
  // up to and including `stop` (run or skipped).
  UINT RunExecuteSequenceUpTo(MSIHANDLE install, const std::wstring& stop) const {
    std::map<std::int32_t, SequenceEntry> sequence;
    {
      MSIHANDLE opened = 0;
      const UINT open = MsiOpenDatabaseW(package_.c_str(), MSIDBOPEN_READONLY, &opened);
      if (open != ERROR_SUCCESS) {
        return open;
      }
      const UniqueMsiHandle database(opened);
      const UINT read = ReadExecuteSequence(database.get(), sequence);
      if (read != ERROR_SUCCESS) {
        return read;
      }
    }
    for (const auto& [number, entry] : sequence) {
      const bool run =
          entry.condition.empty() || MsiEvaluateConditionW(install, entry.condition.c_str()) == MSICONDITION_TRUE;
      if (run) {
        const UINT result = MsiDoActionW(install, entry.action.c_str());
        if (result != ERROR_SUCCESS && result != ERROR_SUCCESS_REBOOT_REQUIRED && result != ERROR_FUNCTION_NOT_CALLED) {
          return result;
        }
      }
      if (entry.action == stop) {
        break;
      }
    }
    return ERROR_SUCCESS;
  }

  const SetupProgressCallback callback_;
  const std::wstring package_;
  const std::wstring log_path_;
  // Touched only by the running operation and its handler, on one thread.
  mutable ProgressState state_;
};

INT WINAPI InstallUiHandler(LPVOID, UINT type, LPCWSTR text) {
  const MsiSetupManager* engine = live_engine.load();
  return engine ? engine->OnMessage(type, text) : 0;
}

}  // namespace

std::unique_ptr<MsiSetupManagerInterface> CreateMsiSetupManager(SetupProgressCallback callback,
                                                                 std::wstring log_path) {
  auto engine = std::make_unique<MsiSetupManager>(std::move(callback), std::move(log_path));
  MsiSetupManager* expected = nullptr;
  if (!live_engine.compare_exchange_strong(expected, engine.get())) {
    return nullptr;
  }
  return engine;
}

DWORD MsiLogModeForLevel(int level) {
  switch (level) {
    case 1:
      return INSTALLLOGMODE_LOGONLYONERROR | INSTALLLOGMODE_ERROR;
    case 3:
      return INSTALLLOGMODE_FATALEXIT | INSTALLLOGMODE_ERROR | INSTALLLOGMODE_WARNING | INSTALLLOGMODE_USER |
             INSTALLLOGMODE_INFO | INSTALLLOGMODE_RESOLVESOURCE | INSTALLLOGMODE_OUTOFDISKSPACE |
             INSTALLLOGMODE_ACTIONSTART | INSTALLLOGMODE_ACTIONDATA | INSTALLLOGMODE_PROPERTYDUMP |
             INSTALLLOGMODE_COMMONDATA | INSTALLLOGMODE_VERBOSE;
    default:
      return INSTALLLOGMODE_VERBOSE | INSTALLLOGMODE_PROPERTYDUMP;
  }
}

}  // namespace installer::msi_wrapper
