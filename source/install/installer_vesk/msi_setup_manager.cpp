#include "installer_vesk/msi_setup_manager.h"

#include <thread>

#include "installer_vesk/msi_ready.h"
#include "installer_vesk/trace_record.h"
#include "installer_vesk/tracer.h"
#include "ovra/strings.h"

namespace {

namespace msi = installer::msi_wrapper;

constexpr std::int32_t kAnotherInstallRunning = 1618;  // ERROR_INSTALL_ALREADY_RUNNING
constexpr std::int32_t kInstallFailure = 1603;         // ERROR_INSTALL_FAILURE

std::mutex holder_mutex;

// The process-wide instance. Made after the tracer, so that at exit it goes
// first: its destructor still writes to the tracer.
std::shared_ptr<MsiSetupManager>& Holder() {
  installer::GetTracer();
  static std::shared_ptr<MsiSetupManager> holder;
  return holder;
}

}  // namespace

std::shared_ptr<MsiSetupManager> MsiSetupManager::instance() {
  installer::WaitForMsiReady();
  std::lock_guard<std::mutex> lock(holder_mutex);
  std::shared_ptr<MsiSetupManager>& holder = Holder();
  if (!holder) {
    holder = std::make_shared<MsiSetupManager>();
  }
  return holder;
}

void MsiSetupManager::releaseInstance() {
  std::shared_ptr<MsiSetupManager> released;
  std::lock_guard<std::mutex> lock(holder_mutex);
  released.swap(Holder());
}

MsiSetupManager::MsiSetupManager()
    : logPath(ovra::WideFromUtf8(installer::GetTracer()->GetMsiLogName())) {}

MsiSetupManager::~MsiSetupManager() {
  finished = true;
  // A running task holds this object: by now the last task has completed,
  // and this may be its own thread letting go.
  std::shared_future<void> task;
  {
    std::lock_guard<std::mutex> lock(lastTaskMutex);
    task = lastTask;
  }
  if (task.valid()) {
    task.wait();
  }
  installer::InstallerRecord() << "~MsiSetupManager";
}

std::int32_t MsiSetupManager::runPreinstallTask(std::wstring parameters, Handler handler) {
  installer::InstallerRecord() << "Run preinstall";
  Parameters list = msi::ParseSetupParameters(parameters);
  startTask(std::move(handler), [list = std::move(list), operation = preinstallOperation](
                                    const Engine& engine, int flags) { return (engine.*operation)(list, flags); });
  return 0;
}

std::int32_t MsiSetupManager::runSetupTask(std::wstring parameters, Handler handler) {
  installer::InstallerRecord() << "Run setup";
  Parameters list = msi::ParseSetupParameters(parameters);
  startTask(std::move(handler), [list = std::move(list), operation = installOperation](
                                    const Engine& engine, int flags) { return (engine.*operation)(list, flags); });
  return 0;
}

std::int32_t MsiSetupManager::runUninstallProduct(std::wstring productCode, std::wstring commandLine,
                                                  Handler handler) {
  installer::InstallerRecord() << "Run uninstall(" << productCode << "): " << commandLine;
  startTask(std::move(handler), [productCode, commandLine, operation = uninstallOperation](
                                    const Engine& engine, int flags) {
    return (engine.*operation)(productCode, commandLine, flags);
  });
  return 0;
}

std::int32_t MsiSetupManager::getMsiLogFlags(std::int32_t level) {
  return static_cast<std::int32_t>(msi::MsiLogModeForLevel(level));
}

std::int32_t MsiSetupManager::initLog(std::wstring path, std::int32_t level) {
  std::lock_guard<std::mutex> lock(settingsMutex);
  logPath = std::move(path);
  logFlags = level;
  return 0;
}

std::int32_t MsiSetupManager::cancelTask() {
  installer::InstallerRecord() << "Cancel installation";
  cancelRequested = true;
  return 0;
}

template <typename Operation>
void MsiSetupManager::startTask(Handler handler, Operation operation) {
  bool idle = false;
  if (!busy.compare_exchange_strong(idle, true)) {
    // Another task runs: this one ends at once, on a thread of its own, so the
    // handler hears of it the way it hears of any completion.
    std::thread([handler] { handler->completed(kAnotherInstallRunning); }).detach();
    return;
  }
  std::promise<void> done;
  std::shared_future<void> task = done.get_future().share();
  try {
    std::thread([self = shared_from_this(), handler = std::move(handler), operation = std::move(operation),
                 done = std::move(done)]() mutable {
      self->runTask(handler, operation);
      done.set_value();
    }).detach();
  } catch (...) {
    busy = false;  // no thread, no task: the script gets the error
    throw;
  }
  std::lock_guard<std::mutex> lock(lastTaskMutex);
  lastTask = std::move(task);
}

template <typename Operation>
void MsiSetupManager::runTask(const Handler& handler, Operation operation) {
  {
    std::lock_guard<std::mutex> lock(progressMutex);
    lastProgress.reset();
  }
  std::wstring log_path;
  int log_flags;
  {
    std::lock_guard<std::mutex> lock(settingsMutex);
    log_path = logPath;
    log_flags = logFlags;
  }
  // The engine reports to this manager, whatever instance() holds meanwhile.
  std::unique_ptr<Engine> engine = msi::CreateMsiSetupManager(
      [this](const msi::SetupProgress& record) { return onEngineProgress(record); }, log_path);
  std::int32_t result = kAnotherInstallRunning;
  if (engine) {
    {
      std::lock_guard<std::mutex> lock(finishedMutex);
      finished = false;
      hasProgress = false;
    }
    cancelRequested = false;
    std::thread relay;
    try {
      relay = std::thread([this, handler] { relayProgress(handler); });
      result = static_cast<std::int32_t>(operation(*engine, log_flags));
    } catch (const std::exception& error) {
      installer::InstallerRecord() << "Setup task failed: " << error.what();
      result = kInstallFailure;
    } catch (...) {
      installer::InstallerRecord() << "Setup task failed";
      result = kInstallFailure;
    }
    {
      std::lock_guard<std::mutex> lock(finishedMutex);
      finished = true;
    }
    relaySignal.notify_all();
    if (relay.joinable()) {
      relay.join();
    }
    engine.reset();
  }
  // Free before completed(): the script may start its next task from there.
  busy = false;
  handler->completed(result);
  installer::InstallerRecord() << "Action result: " << result;
}

void MsiSetupManager::relayProgress(const Handler& handler) {
  // The first report goes out with the engine's first progress record, then
  // one every pollInterval until the operation ends.
  std::unique_lock<std::mutex> wait_lock(finishedMutex);
  relaySignal.wait(wait_lock, [this] { return finished || hasProgress; });
  while (!finished) {
    wait_lock.unlock();
    installer::ProgressData data{0, L"", true};
    {
      std::lock_guard<std::mutex> lock(progressMutex);
      data.progress = lastProgress->progress.value_or(0);
      data.action = lastProgress->action;
      data.forward = lastProgress->forward;
    }
    if (handler) {
      handler->progressChanged(data);
    }
    wait_lock.lock();
    relaySignal.wait_for(wait_lock, pollInterval, [this] { return finished.load(); });
  }
}

int MsiSetupManager::onEngineProgress(const msi::SetupProgress& record) {
  if (record.kind != msi::ProgressMessageKind::Progress) {
    return 0;
  }
  int answer;
  {
    std::lock_guard<std::mutex> lock(progressMutex);
    lastProgress = record;
    answer = cancelRequested ? IDCANCEL : IDOK;
  }
  std::lock_guard<std::mutex> lock(finishedMutex);
  if (!hasProgress) {
    hasProgress = true;
    relaySignal.notify_all();
  }
  return answer;
}
