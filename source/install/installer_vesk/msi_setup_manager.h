// "msi_setup_manager": starts the preinstall pass, the installation and the
// removal of the product package on a task thread of their own, relays the
// engine's latest progress to the script's handler every second while one
// runs, and ends each with the handler's completed(code).
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "msi_wrapper/setup_engine.h"
#include "ovra/progress_callback.h"

class MsiSetupManager : public std::enable_shared_from_this<MsiSetupManager> {
 public:
  using Handler = ovra::objptr_t<installer::IProgressCallback>;

  // The process-wide instance, created on first use (after the bootstrapper's
  // package is ready); a new one after releaseInstance.
  static std::shared_ptr<MsiSetupManager> instance();
  // Empties the process-wide holder; the instance lives on while script or a
  // running task holds it.
  static void releaseInstance();

  MsiSetupManager();
  ~MsiSetupManager();
  MsiSetupManager(const MsiSetupManager&) = delete;
  MsiSetupManager& operator=(const MsiSetupManager&) = delete;

  // Each start returns 0 at once; the handler gets completed(code) once. A start
  // while a task runs is refused with completed(1618) and disturbs nothing.
  std::int32_t runPreinstallTask(std::wstring parameters, Handler handler);
  std::int32_t runSetupTask(std::wstring parameters, Handler handler);
  std::int32_t runUninstallProduct(std::wstring productCode, std::wstring commandLine, Handler handler);
  std::int32_t getMsiLogFlags(std::int32_t level);
  std::int32_t initLog(std::wstring path, std::int32_t level);
  std::int32_t cancelTask();

 private:
  using Engine = installer::msi_wrapper::MsiSetupManagerInterface;
  using Parameters = std::vector<installer::msi_wrapper::SetupParameter>;
  using SetupOperation = UINT (Engine::*)(const Parameters&, int) const;
  using RemoveOperation = UINT (Engine::*)(std::wstring, std::wstring, int) const;

  // Runs `operation` on a new task thread, or refuses it while a task runs.
  template <typename Operation>
  void startTask(Handler handler, Operation operation);
  template <typename Operation>
  void runTask(const Handler& handler, Operation operation);
  void relayProgress(const Handler& handler);
  int onEngineProgress(const installer::msi_wrapper::SetupProgress& record);

  const SetupOperation preinstallOperation = &Engine::RunPreinstallTask;
  const SetupOperation installOperation = &Engine::RunSetupTask;
  const RemoveOperation uninstallOperation = &Engine::RunUninstallProduct;
  const std::chrono::milliseconds pollInterval{1000};

  std::mutex progressMutex;  // lastProgress
  std::optional<installer::msi_wrapper::SetupProgress> lastProgress;
  std::mutex settingsMutex;  // logPath, logFlags: set on the loop thread, read by tasks
  std::wstring logPath;
  std::int32_t logFlags = 2;
  std::atomic<bool> finished{true};
  std::atomic<bool> cancelRequested{false};
  std::atomic<bool> busy{false};  // from a start until its completed()
  std::mutex finishedMutex;       // with relaySignal: the relay's waits
  std::condition_variable relaySignal;
  bool hasProgress = false;       // the running task's engine has reported (finishedMutex)
  // Ends when the last started task has called completed(). Made from a
  // promise, so replacing it never waits for the task. A task can end, and the
  // next start on another thread replace it, before its own start stores it.
  std::mutex lastTaskMutex;
  std::shared_future<void> lastTask;
};
