#include "installer_vesk/trace_record.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <utility>

#include "installer_vesk/tracer.h"
#include "ovra/strings.h"

namespace installer {

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
