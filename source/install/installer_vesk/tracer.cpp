#include "installer_vesk/tracer.h"

#include <algorithm>
#include <cstdlib>
#include <utility>

#include "platform/local_time.h"
#include "platform/paths.h"

namespace installer {
namespace {

constexpr char kInstallerLogPattern[] = "qarn_installer_%m.%d_%H.%M.INST.log";
constexpr char kMsiLogPattern[] = "qarn_installer_%m.%d_%H.%M.MSI.log";
constexpr char kLineTimePattern[] = "%H:%M:%S\t";

std::string FormatTime(const char* pattern, const std::tm& time) {
  char text[80];
  const std::size_t length = std::strftime(text, sizeof text, pattern, &time);
  return std::string(text, length);
}

struct FreeBlock {
  void operator()(char* block) const { std::free(block); }
};

}  // namespace

Tracer::Tracer(std::time_t created) {
  const std::tm local = platform::LocalTime(created);
  installer_log_file_ = FormatTime(kInstallerLogPattern, local);
  msi_log_file_ = FormatTime(kMsiLogPattern, local);
  installer_log_name_ = installer_log_file_;
  msi_log_name_ = msi_log_file_;
}

Tracer::~Tracer() {
  if (IsLogOpen()) {
    TraceRecord(*this, kInstallerTraceLevel) << "tracer closed";
  }
  try {
    std::lock_guard<std::mutex> lock(mutex_);
    stream_.close();
  } catch (...) {
  }
}

std::int32_t Tracer::AddRef() { return 0; }
std::int32_t Tracer::Release() { return 0; }
ovra::result_t Tracer::QueryInterface(ovra::iid_t, void** object) {
  if (object != nullptr) {
    *object = static_cast<ovra::ITracer*>(this);
  }
  return 0;
}

ovra::result_t Tracer::GetRecordBuffer(std::uint32_t level, char** buffer, std::size_t size) {
  if (buffer == nullptr) {
    return ovra::kResultInvalidArgument;
  }
  if (level > level_.load()) {
    std::free(*buffer);
    *buffer = nullptr;
    return 0;
  }
  // realloc of 0 bytes may free the block and return null; ask for one byte instead.
  void* grown = std::realloc(*buffer, std::max<std::size_t>(size, 1));
  if (grown == nullptr) {
    std::free(*buffer);
    *buffer = nullptr;
    return ovra::kResultOutOfMemory;
  }
  *buffer = static_cast<char*>(grown);
  return 0;
}

ovra::result_t Tracer::WriteRecord(char* buffer, std::size_t length) {
  const std::unique_ptr<char, FreeBlock> owned(buffer);
  if (buffer == nullptr) {
    return 0;
  }
  try {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!stream_.is_open()) {
      return 0;
    }
    // Taken under the lock so that times never go backwards down the file.
    const std::string stamp = FormatTime(kLineTimePattern, platform::LocalTime(std::time(nullptr)));
    // A failed earlier write must not silence the log for good.
    stream_.clear();
    stream_.write(stamp.data(), static_cast<std::streamsize>(stamp.size()));
    stream_.write(buffer, static_cast<std::streamsize>(length));
    stream_.put('\n');
    stream_.flush();
  } catch (...) {
  }
  return 0;
}

ovra::result_t Tracer::OpenInstallerLog() {
  try {
    std::lock_guard<std::mutex> lock(mutex_);
    // An open stream stays on its file and keeps a clean state: a second open
    // must not stop the records that follow.
    if (!stream_.is_open()) {
      stream_.open(installer_log_name_, std::ios::out | std::ios::app);
    }
    return stream_.is_open() ? ovra::kResultOk : ovra::kResultUnspecified;
  } catch (...) {
    return ovra::kResultUnspecified;
  }
}

ovra::result_t Tracer::CloseInstallerLog() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (stream_.is_open()) {
    stream_.close();
  }
  return 0;
}

bool Tracer::IsLogOpen() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return stream_.is_open();
}

std::uint32_t Tracer::GetLevel() const { return level_.load(); }

void Tracer::SetLevel(std::uint32_t level) { level_.store(level); }

std::string Tracer::GetInstallerLogName() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return installer_log_name_;
}

void Tracer::SetInstallerLogName(std::string name) {
  std::lock_guard<std::mutex> lock(mutex_);
  installer_log_name_ = std::move(name);
}

std::string Tracer::GetMsiLogName() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return msi_log_name_;
}

void Tracer::SetLogDirectory(const std::string& directory) {
  if (directory.empty()) {
    return;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  installer_log_name_ = PrefixDirectory(directory, installer_log_file_);
  msi_log_name_ = PrefixDirectory(directory, msi_log_file_);
}

std::string PrefixDirectory(const std::string& directory, const std::string& name) {
  // A directory ending with a separator takes the name as it is (on Windows a
  // '/' counts as one too; elsewhere a backslash belongs to the folder's name).
  const bool separated = !directory.empty() && platform::IsPathSeparator(static_cast<unsigned char>(directory.back()));
  if (separated || name.empty()) {
    return directory + name;
  }
  return directory + static_cast<char>(platform::kPathSeparator) + name;
}

std::shared_ptr<Tracer> GetTracer() {
  static const std::shared_ptr<Tracer> instance = std::make_shared<Tracer>(std::time(nullptr));
  return instance;
}

}  // namespace installer
