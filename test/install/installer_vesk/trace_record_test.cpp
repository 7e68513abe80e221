// The record builder: when it drops a record, writing once, and formatting.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "installer_vesk/trace_record.h"
#include "installer_vesk/tracer.h"

namespace {

using installer::TraceRecord;
using namespace installer::trace_format;

// Lets a real Tracer decide and size the blocks, and keeps what would be written.
class RecordingTracer final : public ovra::ITracer {
 public:
  explicit RecordingTracer(std::uint32_t level) : real_(0) { real_.SetLevel(level); }

  std::int32_t AddRef() override { return 0; }
  std::int32_t Release() override { return 0; }
  ovra::result_t QueryInterface(ovra::iid_t, void**) override { return 0; }

  ovra::result_t GetRecordBuffer(std::uint32_t level, char** buffer, std::size_t size) override {
    requests.emplace_back(level, size);
    return real_.GetRecordBuffer(level, buffer, size);
  }

  ovra::result_t WriteRecord(char* buffer, std::size_t length) override {
    if (buffer != nullptr) records.emplace_back(buffer, length);
    std::free(buffer);
    return 0;
  }

  void SetLevel(std::uint32_t level) { real_.SetLevel(level); }

  std::vector<std::pair<std::uint32_t, std::size_t>> requests;
  std::vector<std::string> records;

 private:
  installer::Tracer real_;
};

using Requests = std::vector<std::pair<std::uint32_t, std::size_t>>;

template <typename Build>
std::string Format(Build build) {
  RecordingTracer tracer(700);
  {
    TraceRecord record(tracer, 700);
    build(record);
  }
  return tracer.records.size() == 1 ? tracer.records[0] : "<" + std::to_string(tracer.records.size()) + " records>";
}

TEST(TraceRecord, DeclinedOrDroppedRecordStaysSilent) {
  RecordingTracer tracer(700);
  {
    TraceRecord declined(tracer, 701);
    declined << std::string(2000, 'x') << 42 << L"wide";
  }
  EXPECT_EQ(tracer.requests, (Requests{{701, 512}}));
  {
    // No partial record once the level rises in the middle.
    TraceRecord dropped(tracer, 700);
    dropped << std::string(600, 'x');
    tracer.SetLevel(1000);
    dropped << "tail";
  }
  EXPECT_TRUE(tracer.records.empty());
}

TEST(TraceRecord, EndWritesOnceAndMovedRecordWritesOnce) {
  RecordingTracer tracer(700);
  {
    TraceRecord record(tracer, 700);
    record << "ended";
    record.End();
    record << "after end";
  }
  {
    TraceRecord original = installer::InstallerRecord(tracer);
    TraceRecord moved = std::move(original);
    moved << "moved";
  }
  EXPECT_EQ(tracer.records, (std::vector<std::string>{"ended", "bl\tmoved"}));
}

TEST(TraceRecord, FormatsNumbersTextAndBools) {
  EXPECT_EQ(Format([](TraceRecord& r) {
              r << 0 << ' ' << -42 << ' ' << std::numeric_limits<std::int32_t>::min() << ' '
                << std::numeric_limits<std::uint64_t>::max() << ' ' << std::numeric_limits<std::int64_t>::min() << ' '
                << static_cast<unsigned char>(200) << ' ' << static_cast<signed char>(-7) << ' '
                << static_cast<short>(-300) << ' ' << 4000000000u;
            }),
            "0 -42 -2147483648 18446744073709551615 -9223372036854775808 200 -7 -300 4000000000");
  // A negative number in hexadecimal shows the bits of its own type.
  EXPECT_EQ(Format([](TraceRecord& r) {
              r << hex << 255 << ' ' << showbase << 255 << ' ' << 0 << ' ' << -1 << ' '
                << static_cast<std::int64_t>(-2) << ' ' << static_cast<std::uint16_t>(0xBEEF) << ' '
                << static_cast<std::int32_t>(0x80070005u) << noshowbase << ' ' << 0xABCu << dec << ' ' << 255;
            }),
            "ff 0xff 0x0 0xffffffff 0xfffffffffffffffe 0xbeef 0x80070005 abc 255");
  // The width applies to the next number only; '0' pads after the sign and prefix, as printf does.
  EXPECT_EQ(Format([](TraceRecord& r) {
              r << setw(5) << 42 << '|' << 42 << '|' << setfill('0') << setw(6) << -42 << '|' << hex << showbase
                << setw(10) << 0x1a << '|' << setfill('*') << setw(6) << 0x1a << '|' << setw(2) << 0x1234 << '|'
                << setw(4) << "text" << 7;
            }),
            "   42|42|-00042|0x0000001a|**0x1a|0x1234|text*0x7");
  EXPECT_EQ(Format([](TraceRecord& r) {
              r << "narrow " << std::string("string ") << 'c' << ' ' << true << ' ' << false << ' ' << L"wide \u00e9"
                << static_cast<const char*>(nullptr) << static_cast<const wchar_t*>(nullptr) << "end";
            }),
            "narrow string c true false wide \xC3\xA9" "end");
}

}  // namespace
