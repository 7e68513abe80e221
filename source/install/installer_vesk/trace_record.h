// The builder of one trace record, its formatting manipulators and the trace levels.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>

#include "ovra/tracer.h"

namespace installer {

// Records of the installer's own code, and the "tracer closed" record.
constexpr std::uint32_t kInstallerTraceLevel = 700;
// The command line and the Windows version text.
constexpr std::uint32_t kDetailTraceLevel = 800;
// A record may grow past its first block only when this level is accepted.
constexpr std::uint32_t kRecordGrowthLevel = 1000;
// First block size of every record.
constexpr std::size_t kRecordInitialCapacity = 512;

// What starts every record of the installer's own code (InstallerRecord).
constexpr char kInstallerTag[] = "bl\t";

class Tracer;

// Formatting state changes for TraceRecord, in the manner of the iostream manipulators.
namespace trace_format {
struct Base {
  int radix;
};
struct ShowBase {
  bool on;
};
struct Width {
  int width;
};
struct Fill {
  char fill;
};
constexpr Base dec{10};
constexpr Base hex{16};
// A "0x" prefix on hexadecimal numbers.
constexpr ShowBase showbase{true};
constexpr ShowBase noshowbase{false};
// Minimum width of the next number only; the prefix and sign count as in printf.
constexpr Width setw(int width) { return Width{width}; }
// Padding character; '0' pads between sign or prefix and digits, any other in front.
constexpr Fill setfill(char fill) { return Fill{fill}; }
}  // namespace trace_format

// Builds one record in a block obtained from the tracer and writes it on End() or
// destruction. The record starts with a 512-byte block at its own level; a longer record
// asks for more at level 1000, and when that is declined the whole record is dropped.
// Text is kept as UTF-8; wide text is converted. Never throws.
class TraceRecord {
 public:
  // A record for the process-wide tracer.
  explicit TraceRecord(std::uint32_t level);
  // A record for `tracer`, which must outlive it.
  TraceRecord(ovra::ITracer& tracer, std::uint32_t level);
  ~TraceRecord();

  TraceRecord(TraceRecord&& other) noexcept;
  TraceRecord(const TraceRecord&) = delete;
  TraceRecord& operator=(const TraceRecord&) = delete;
  TraceRecord& operator=(TraceRecord&&) = delete;

  // Writes the record now; later appends are ignored.
  void End();

  TraceRecord& operator<<(std::string_view text);
  TraceRecord& operator<<(const char* text);
  TraceRecord& operator<<(char c);
  TraceRecord& operator<<(const std::wstring& text);
  TraceRecord& operator<<(const wchar_t* text);
  TraceRecord& operator<<(bool value);  // "true" or "false"

  // Integers (signed char and unsigned char included) in the current base; a negative
  // number in hexadecimal shows the bits of its own type, as iostreams do.
  template <typename T, std::enable_if_t<std::is_integral_v<T> && !std::is_same_v<T, bool> &&
                                             !std::is_same_v<T, char> && !std::is_same_v<T, wchar_t> &&
                                             !std::is_same_v<T, char16_t> && !std::is_same_v<T, char32_t>,
                                         int> = 0>
  TraceRecord& operator<<(T value) {
    if constexpr (std::is_signed_v<T>) {
      if (radix_ == 10 && value < 0) {
        AppendInteger(0 - static_cast<std::uint64_t>(static_cast<std::int64_t>(value)), true);
        return *this;
      }
    }
    AppendInteger(static_cast<std::uint64_t>(static_cast<std::make_unsigned_t<T>>(value)), false);
    return *this;
  }

  TraceRecord& operator<<(trace_format::Base base);
  TraceRecord& operator<<(trace_format::ShowBase show);
  TraceRecord& operator<<(trace_format::Width width);
  TraceRecord& operator<<(trace_format::Fill fill);

 private:
  void Append(const char* data, std::size_t size);
  void AppendInteger(std::uint64_t magnitude, bool negative);
  void AppendPadded(std::string_view sign, std::string_view prefix, std::string_view digits);
  void Drop();

  std::shared_ptr<Tracer> owner_;  // keeps the process-wide tracer alive
  ovra::ITracer* tracer_ = nullptr;
  char* block_ = nullptr;
  std::size_t capacity_ = 0;
  std::size_t used_ = 0;
  int radix_ = 10;
  bool show_base_ = false;
  char fill_ = ' ';
  int width_ = 0;
};

// A record of the installer's own code: the tag "bl" and a tab, then what follows.
TraceRecord InstallerRecord(std::uint32_t level = kInstallerTraceLevel);
TraceRecord InstallerRecord(ovra::ITracer& tracer, std::uint32_t level = kInstallerTraceLevel);

}  // namespace installer
