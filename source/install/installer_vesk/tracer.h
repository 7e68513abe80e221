// The process-wide trace writer and its log files.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>

#include "installer_vesk/trace_record.h"
#include "ovra/result.h"
#include "ovra/tracer.h"

namespace installer {

// Writes records to the installer ("INST") log and names the Windows Installer ("MSI") log.
// A record of level L is accepted when L <= level. Every line of the log is the local
// time "HH:MM:SS", a tab and the record; lines end in text mode and are flushed at once.
class Tracer final : public ovra::ITracer {
 public:
  // Both log names are formed from the local time of `created`; only
  // SetInstallerLogName and SetLogDirectory change them.
  explicit Tracer(std::time_t created);
  // Writes "tracer closed" at level 700 when the log is open, then closes it.
  ~Tracer();

  Tracer(const Tracer&) = delete;
  Tracer& operator=(const Tracer&) = delete;

  // The lifetime belongs to the shared pointer: no reference counting, and every
  // interface query answers this object.
  std::int32_t AddRef() override;
  std::int32_t Release() override;
  ovra::result_t QueryInterface(ovra::iid_t iid, void** object) override;

  // Accepted level: reallocates *buffer to `size` bytes (0, or kResultOutOfMemory with
  // the old block freed). Declined level: frees *buffer and returns 0. Either way a
  // record that cannot go on finds *buffer null.
  ovra::result_t GetRecordBuffer(std::uint32_t level, char** buffer, std::size_t size) override;
  // Writes one line when `buffer` is not null and the log is open; always frees `buffer`.
  ovra::result_t WriteRecord(char* buffer, std::size_t length) override;

  // 0 when the log is open afterwards (also when it already was), else kResultUnspecified.
  // An open log stays on the file it was opened on.
  ovra::result_t OpenInstallerLog();
  ovra::result_t CloseInstallerLog();
  bool IsLogOpen() const;

  std::uint32_t GetLevel() const;
  void SetLevel(std::uint32_t level);

  // Narrow names in the system code page; no directory unless one was set.
  std::string GetInstallerLogName() const;
  void SetInstallerLogName(std::string name);
  std::string GetMsiLogName() const;
  // Names both logs `directory` followed by the file names they had when the
  // tracer was created, so that a later directory replaces an earlier one
  // instead of nesting in it. An empty directory changes nothing. An open log
  // stays on its file.
  void SetLogDirectory(const std::string& directory);

 private:
  mutable std::mutex mutex_;  // the stream and both names
  std::ofstream stream_;
  std::atomic<std::uint32_t> level_{kInstallerTraceLevel};
  std::string installer_log_name_;
  std::string msi_log_name_;
  // The names as created, without a directory.
  std::string installer_log_file_;
  std::string msi_log_file_;
};

// `directory` and `name` joined by the system's separator (platform::kPathSeparator),
// which is left out when the directory already ends with one or the name is empty.
std::string PrefixDirectory(const std::string& directory, const std::string& name);

// The process-wide tracer, created on first use.
std::shared_ptr<Tracer> GetTracer();

}  // namespace installer
