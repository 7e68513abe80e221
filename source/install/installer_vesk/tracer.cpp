#include "installer_vesk/tracer.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <utility>

#include "ovra/strings.h"
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

// ---- Tracer ----

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

void Tracer::SetMsiLogName(std::string name) {
  std::lock_guard<std::mutex> lock(mutex_);
  msi_log_name_ = std::move(name);
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

// ---- TraceRecord ----

TraceRecord::TraceRecord(std::uint32_t level) {
  try {
    owner_ = GetTracer();
  } catch (...) {
    return;
  }
  tracer_ = owner_.get();
  if (tracer_->GetRecordBuffer(level, &block_, kRecordInitialCapacity) != 0 || block_ == nullptr) {
    block_ = nullptr;
    return;
  }
  capacity_ = kRecordInitialCapacity;
}

TraceRecord::TraceRecord(ovra::ITracer& tracer, std::uint32_t level) : tracer_(&tracer) {
  if (tracer_->GetRecordBuffer(level, &block_, kRecordInitialCapacity) != 0 || block_ == nullptr) {
    block_ = nullptr;
    return;
  }
  capacity_ = kRecordInitialCapacity;
}

TraceRecord::TraceRecord(TraceRecord&& other) noexcept
    : owner_(std::move(other.owner_)),
      tracer_(other.tracer_),
      block_(std::exchange(other.block_, nullptr)),
      capacity_(std::exchange(other.capacity_, 0)),
      used_(std::exchange(other.used_, 0)),
      radix_(other.radix_),
      show_base_(other.show_base_),
      fill_(other.fill_),
      width_(other.width_) {}

TraceRecord::~TraceRecord() { End(); }

void TraceRecord::End() {
  if (block_ == nullptr) {
    return;
  }
  char* block = std::exchange(block_, nullptr);
  const std::size_t used = std::exchange(used_, 0);
  capacity_ = 0;
  tracer_->WriteRecord(block, used);
}

void TraceRecord::Drop() {
  std::free(block_);
  block_ = nullptr;
  capacity_ = 0;
  used_ = 0;
}

void TraceRecord::Append(const char* data, std::size_t size) {
  if (block_ == nullptr || size == 0) {
    return;
  }
  if (size > capacity_ - used_) {
    if (size > std::numeric_limits<std::size_t>::max() - used_) {
      Drop();
      return;
    }
    const std::size_t needed = used_ + size;
    const std::size_t doubled =
        capacity_ > std::numeric_limits<std::size_t>::max() / 2 ? std::numeric_limits<std::size_t>::max() : 2 * capacity_;
    const std::size_t wanted = std::max(needed, doubled);
    // The tracer frees the old block whenever it does not hand back a bigger one,
    // and the record stays dropped from then on.
    char* block = std::exchange(block_, nullptr);
    if (tracer_->GetRecordBuffer(kRecordGrowthLevel, &block, wanted) != 0 || block == nullptr) {
      capacity_ = 0;
      used_ = 0;
      return;
    }
    block_ = block;
    capacity_ = wanted;
  }
  std::memcpy(block_ + used_, data, size);
  used_ += size;
}

void TraceRecord::AppendPadded(std::string_view sign, std::string_view prefix, std::string_view digits) {
  const std::size_t length = sign.size() + prefix.size() + digits.size();
  std::size_t padding =
      width_ > 0 && static_cast<std::size_t>(width_) > length ? static_cast<std::size_t>(width_) - length : 0;
  width_ = 0;
  const bool zero_fill = fill_ == '0';
  if (zero_fill) {
    Append(sign.data(), sign.size());
    Append(prefix.data(), prefix.size());
  }
  char fill[32];
  std::memset(fill, fill_, sizeof fill);
  while (padding > 0) {
    const std::size_t chunk = std::min(padding, sizeof fill);
    Append(fill, chunk);
    padding -= chunk;
  }
  if (!zero_fill) {
    Append(sign.data(), sign.size());
    Append(prefix.data(), prefix.size());
  }
  Append(digits.data(), digits.size());
}

void TraceRecord::AppendInteger(std::uint64_t magnitude, bool negative) {
  if (block_ == nullptr) {
    return;
  }
  char digits[64];
  const auto result = std::to_chars(digits, digits + sizeof digits, magnitude, radix_);
  const std::string_view prefix = radix_ == 16 && show_base_ ? "0x" : "";
  AppendPadded(negative ? "-" : "", prefix, std::string_view(digits, result.ptr - digits));
}

TraceRecord& TraceRecord::operator<<(std::string_view text) {
  Append(text.data(), text.size());
  return *this;
}

TraceRecord& TraceRecord::operator<<(const char* text) {
  if (text != nullptr) {
    Append(text, std::strlen(text));
  }
  return *this;
}

TraceRecord& TraceRecord::operator<<(char c) {
  Append(&c, 1);
  return *this;
}

TraceRecord& TraceRecord::operator<<(const std::wstring& text) {
  if (block_ == nullptr) {
    return *this;
  }
  try {
    const std::string utf8 = ovra::Utf8FromWide(text);
    Append(utf8.data(), utf8.size());
  } catch (...) {
    Drop();  // out of memory while converting: the record is lost, never thrown
  }
  return *this;
}

TraceRecord& TraceRecord::operator<<(const wchar_t* text) {
  if (text == nullptr || block_ == nullptr) {
    return *this;
  }
  try {
    return *this << std::wstring(text);
  } catch (...) {
    Drop();
  }
  return *this;
}

TraceRecord& TraceRecord::operator<<(bool value) { return *this << (value ? "true" : "false"); }

TraceRecord& TraceRecord::operator<<(trace_format::Base base) {
  radix_ = base.radix == 16 ? 16 : 10;
  return *this;
}

TraceRecord& TraceRecord::operator<<(trace_format::ShowBase show) {
  show_base_ = show.on;
  return *this;
}

TraceRecord& TraceRecord::operator<<(trace_format::Width width) {
  width_ = width.width;
  return *this;
}

TraceRecord& TraceRecord::operator<<(trace_format::Fill fill) {
  fill_ = fill.fill;
  return *this;
}

// ---- installer records ----

namespace {
constexpr char kInstallerTag[] = "bl\t";
}

TraceRecord InstallerRecord(std::uint32_t level) {
  TraceRecord record(level);
  record << kInstallerTag;
  return record;
}

TraceRecord InstallerRecord(ovra::ITracer& tracer, std::uint32_t level) {
  TraceRecord record(tracer, level);
  record << kInstallerTag;
  return record;
}

}  // namespace installer
