// A test-only addon over the bridge: classes whose methods cover every
// parameter kind (in and out) and every result kind, so the bridge is tested
// from script independently of the installer classes.
#include <napi.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <mutex>
#include <new>
#include <numeric>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "installer_vesk/bridge/class_registry.h"
#include "ovra/exception.h"
#include "ovra/progress_callback.h"
#include "ovra/tracer.h"

namespace bridge_test {

struct Tag {
  std::wstring name;
  std::int32_t depth = 0;
};

// A record with every scalar field kind and a nested record.
struct Point {
  std::int32_t x = 0;
  std::uint32_t weight = 0;
  bool visible = false;
  std::wstring label;
  Tag tag;
};

std::atomic<int> probeConstructions{0};

// Two's-complement wrap-around, as script sees int32 arithmetic: no signed overflow.
std::int32_t WrappingAdd(std::int32_t a, std::int32_t b) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b));
}

// Sizes a caller may ask for; larger ones are refused rather than exhausting memory or time.
constexpr std::uint64_t kMaxElements = 1 << 16;
constexpr std::int32_t kMaxReports = 10000;

void CheckSize(std::uint64_t size) {
  if (size > kMaxElements) throw std::length_error("size too large");
}

class Probe {
 public:
  Probe() { ++probeConstructions; }

  bool echoBool(bool value) { return value; }
  std::int32_t echoInt32(std::int32_t value) { return value; }
  std::uint32_t echoUInt32(std::uint32_t value) { return value; }
  std::string echoString(std::string value) { return value; }
  std::wstring echoWString(const std::wstring& value) { return value; }

  // Out-parameters receive the converted argument and change it.
  // Each returns its own number, which tells the calls apart.
  std::int32_t flipBool(bool& value) { value = !value; return 1; }
  std::int32_t doubleInt32(std::int32_t& value) { value = WrappingAdd(value, value); return 2; }
  std::int32_t decrementUInt32(std::uint32_t& value) { --value; return 3; }
  std::int32_t exclaimString(std::string& value) { value += "!"; return 4; }
  std::int32_t exclaimWString(std::wstring& value) { value += L"!"; return 5; }

  std::wstring describePoint(Point point) {
    return std::to_wstring(point.x) + L"," + std::to_wstring(point.weight) + L"," +
           (point.visible ? L"true" : L"false") + L"," + point.label + L"," + point.tag.name + L"," +
           std::to_wstring(point.tag.depth);
  }
  Point makePoint(std::int32_t x, std::wstring label) { return Point{x, 7, true, label, Tag{L"tag of " + label, 1}}; }
  std::int32_t movePoint(Point& point) {
    point.x = WrappingAdd(point.x, 10);
    point.tag.depth = WrappingAdd(point.tag.depth, 1);
    return 0;
  }

  std::uint32_t sumWeights(std::vector<Point> points) {
    return std::accumulate(points.begin(), points.end(), 0u, [](std::uint32_t sum, const Point& p) { return sum + p.weight; });
  }
  // Keeps the first `count` points, moved; appends new ones if fewer were given.
  std::int32_t resizePoints(std::vector<Point>& points, std::uint32_t count) {
    CheckSize(count);
    points.resize(count);
    for (auto& point : points) point.x = WrappingAdd(point.x, 1);
    return static_cast<std::int32_t>(points.size());
  }

  std::vector<std::vector<std::wstring>> grid(std::uint32_t rows, std::uint32_t columns) {
    CheckSize(rows);
    CheckSize(std::uint64_t{rows} * columns);
    std::vector<std::vector<std::wstring>> cells(rows);
    for (std::uint32_t r = 0; r < rows; ++r) {
      for (std::uint32_t c = 0; c < columns; ++c) cells[r].push_back(std::to_wstring(r) + L":" + std::to_wstring(c));
    }
    return cells;
  }
  std::string textWithNul() { return std::string("before\0after", 12); }
  std::wstring wideWithNul() { return std::wstring(L"before\0after", 12); }

  std::int32_t fail(std::string kind) {
    if (kind == "runtime") throw std::runtime_error("native failure text");
    if (kind == "result") throw ovra::ResultCodeException(static_cast<ovra::result_t>(0x8000004C), L"not found");
    if (kind == "check") throw ovra::CheckFailedException("bridge_test/addon", 42);
    if (kind == "alloc") throw std::bad_alloc();
    if (kind == "other") throw 42;
    return 0;
  }

  std::int32_t constructions() { return probeConstructions; }
  std::int32_t noArguments() { return ++calls_; }
  std::wstring twoArguments(std::int32_t number, std::wstring text) { return text + L"/" + std::to_wstring(number); }

 private:
  std::atomic<std::int32_t> calls_{0};  // concurrent asynchronous calls count too
};

class Other {
 public:
  std::int32_t identity() { return 99; }
};

using Sink = ovra::objptr_t<installer::IProgressCallback>;

// Process-wide: a reporting thread may outlive the environment that started it.
struct LateReports {
  std::mutex mutex;
  std::condition_variable releasedSignal;
  bool released = false;
  std::wstring results;
} late;

// Reports to progress sinks from worker threads or from the calling thread.
class Reporter {
 public:
  // Reports `count` steps and completed(count) from a new thread; returns at once.
  std::int32_t reportFromThread(Sink sink, std::int32_t count) {
    CheckReports(count);
    std::thread([sink, count] { Report(sink, count); }).detach();
    return 0;
  }
  // Reports on the calling thread: the loop thread in the synchronous form.
  std::int32_t reportHere(Sink sink, std::int32_t count) {
    CheckReports(count);
    Report(sink, count);
    return 0;
  }
  // What completed() returned to the native side.
  std::int32_t completeHere(Sink sink, std::int32_t code) { return sink->completed(code); }

  // [result, references before, references after] of QueryInterface(iid).
  std::vector<std::wstring> queryInterface(Sink sink, std::uint32_t iid) {
    const auto references = [&] {
      const std::int32_t count = sink->AddRef() - 1;
      sink->Release();
      return std::to_wstring(count);
    };
    const std::wstring before = references();
    void* object = nullptr;
    const ovra::result_t result = sink->QueryInterface(iid, &object);
    const std::wstring after = references();
    if (object != nullptr) static_cast<installer::IProgressCallback*>(object)->Release();
    return {std::to_wstring(result), before, after};
  }

  std::int32_t liveObjects() { return ovra::LiveObjectCount(); }

  // Keeps a sink for later reports; a report to it may come from inside one of its handlers.
  // The previous sink, swapped into the parameter, is released after the lock.
  std::int32_t keepSink(Sink sink) {
    std::lock_guard<std::mutex> lock(keptMutex_);
    kept_.swap(sink);
    return 0;
  }
  std::int32_t reportToKept(std::int32_t count) {
    CheckReports(count);
    const Sink sink = Kept();  // a copy: a handler may replace kept_ meanwhile
    if (!sink) throw std::logic_error("no sink kept");
    Report(sink, count);
    return 0;
  }
  std::int32_t dropKept() { return keepSink(Sink()); }

  // From a new thread, once releaseLate() was called (from any environment),
  // reports `count` steps and completed(); lateResults() then gives what each
  // call returned, comma-separated.
  std::int32_t reportWhenReleased(Sink sink, std::int32_t count) {
    CheckReports(count);
    std::thread([sink, count] {
      std::unique_lock<std::mutex> lock(late.mutex);
      late.releasedSignal.wait(lock, [] { return late.released; });
      lock.unlock();
      std::wstring results;
      for (std::int32_t i = 0; i < count; ++i) {
        results += std::to_wstring(sink->progressChanged(installer::ProgressData{i, L"late", true})) + L",";
      }
      results += std::to_wstring(sink->completed(count));
      lock.lock();
      late.results = results;
    }).detach();
    return 0;
  }
  std::int32_t releaseLate() {
    std::lock_guard<std::mutex> lock(late.mutex);
    late.released = true;
    late.releasedSignal.notify_all();
    return 0;
  }
  std::wstring lateResults() {
    std::lock_guard<std::mutex> lock(late.mutex);
    return late.results;
  }

 private:
  std::mutex keptMutex_;
  Sink kept_;

  Sink Kept() {
    std::lock_guard<std::mutex> lock(keptMutex_);
    return kept_;
  }

  static void CheckReports(std::int32_t count) {
    if (count > kMaxReports) throw std::length_error("too many reports");
  }

  static void Report(const Sink& sink, std::int32_t count) {
    for (std::int32_t i = 0; i < count; ++i) {
      sink->progressChanged(installer::ProgressData{i, L"step " + std::to_wstring(i) + L" \U0001F600", i % 2 == 0});
    }
    sink->completed(count);
  }
};

// Lets script observe how the pool runs blocking tasks.
class Gate {
 public:
  // Records its start, then blocks until the gate opens.
  std::int32_t pass(std::int32_t index) {
    std::unique_lock<std::mutex> lock(mutex_);
    order_ += (order_.empty() ? L"" : L",") + std::to_wstring(index);
    maxRunning_ = std::max(maxRunning_, ++running_);
    open_signal_.wait(lock, [this] { return open_; });
    --running_;
    return index;
  }
  std::int32_t open() {
    std::lock_guard<std::mutex> lock(mutex_);
    open_ = true;
    open_signal_.notify_all();
    return 0;
  }
  std::int32_t reset() {
    std::lock_guard<std::mutex> lock(mutex_);
    open_ = false;
    order_.clear();
    running_ = maxRunning_ = 0;
    return 0;
  }
  // [running now, most running at once, start order]
  std::vector<std::wstring> stats() {
    std::lock_guard<std::mutex> lock(mutex_);
    return {std::to_wstring(running_), std::to_wstring(maxRunning_), order_};
  }
  // True when `parties` callers were inside at the same time within 10 s.
  bool meet(std::uint32_t parties) {
    std::unique_lock<std::mutex> lock(mutex_);
    ++meeting_;
    meeting_signal_.notify_all();
    return meeting_signal_.wait_for(lock, std::chrono::seconds(10), [&] { return meeting_ >= parties; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable open_signal_, meeting_signal_;
  bool open_ = false;
  std::int32_t running_ = 0, maxRunning_ = 0;
  std::uint32_t meeting_ = 0;
  std::wstring order_;
};

// The addon's tracer, as the bridge's records need one: once turned on, each
// record is a line "HH:MM:SS<tab>record" of bridge_test.log in the working
// directory, as in the installer's log.
class LogTracer final : public ovra::ITracer {
 public:
  // A static object: no reference counting.
  std::int32_t AddRef() override { return 1; }
  std::int32_t Release() override { return 1; }
  ovra::result_t QueryInterface(ovra::iid_t, void** object) override {
    *object = static_cast<ovra::ITracer*>(this);
    return ovra::kResultOk;
  }

  ovra::result_t GetRecordBuffer(std::uint32_t, char** buffer, std::size_t size) override {
    void* grown = isOn() ? std::realloc(*buffer, size == 0 ? 1 : size) : nullptr;
    if (grown == nullptr) std::free(*buffer);
    *buffer = static_cast<char*>(grown);
    return ovra::kResultOk;
  }
  ovra::result_t WriteRecord(char* buffer, std::size_t length) override {
    const std::unique_ptr<char, void (*)(void*)> owned(buffer, std::free);
    std::lock_guard<std::mutex> lock(mutex_);
    if (file_ == nullptr || buffer == nullptr) return ovra::kResultOk;
    const std::time_t now = std::time(nullptr);
    char stamp[16];
    std::fwrite(stamp, 1, std::strftime(stamp, sizeof stamp, "%H:%M:%S\t", std::localtime(&now)), file_);
    std::fwrite(buffer, 1, length, file_);
    std::fputc('\n', file_);
    std::fflush(file_);
    return ovra::kResultOk;
  }

  // "tracer_controller".turnOnTraces: 0, or kResultUnspecified when the log cannot be opened.
  std::int32_t turnOn() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (file_ == nullptr) file_ = std::fopen("bridge_test.log", "a");  // text mode: the system's line ends
    return file_ != nullptr ? ovra::kResultOk : ovra::kResultUnspecified;
  }

 private:
  bool isOn() {
    std::lock_guard<std::mutex> lock(mutex_);
    return file_ != nullptr;
  }

  std::mutex mutex_;
  std::FILE* file_ = nullptr;  // open until the process ends
};

LogTracer& Tracer() {
  static LogTracer* const tracer = new LogTracer;  // never destroyed: sinks may report during exit
  return *tracer;
}

class TraceController {
 public:
  std::int32_t turnOnTraces() { return Tracer().turnOn(); }
};

}  // namespace bridge_test

namespace electron::node_interop::v8_helpers::type_converters {
template <>
struct RecordShape<bridge_test::Tag> {
  static constexpr auto fields() {
    return std::make_tuple(MakeField("name", &bridge_test::Tag::name), MakeField("depth", &bridge_test::Tag::depth));
  }
};
template <>
struct RecordShape<bridge_test::Point> {
  static constexpr auto fields() {
    using bridge_test::Point;
    return std::make_tuple(MakeField("x", &Point::x), MakeField("weight", &Point::weight),
                           MakeField("visible", &Point::visible), MakeField("label", &Point::label),
                           MakeField("tag", &Point::tag));
  }
};
}  // namespace electron::node_interop::v8_helpers::type_converters

namespace {

using electron::node_interop::ClassFactory;
using electron::node_interop::MakeClassWrapper;
using electron::node_interop::v8_helpers::addMethod;

// The factory of a class: a new T whose object carries `methods`.
template <typename T, typename... Methods>
ClassFactory Serve(std::pair<const char*, Methods>... methods) {
  return [=](Napi::Env env) {
    auto wrapper = MakeClassWrapper(env, std::make_shared<T>());
    (addMethod(*wrapper, methods.first, methods.second), ...);
    return wrapper;
  };
}
#define METHOD(Class, name) std::pair{#name, &Class::name}

Napi::Object Init(Napi::Env env, Napi::Object exports) {
  using bridge_test::Gate;
  using bridge_test::Other;
  using bridge_test::Probe;
  using bridge_test::Reporter;
  using bridge_test::TraceController;
  electron::node_interop::FactoryTable factories;
  factories["probe"] = Serve<Probe>(
      METHOD(Probe, echoBool), METHOD(Probe, echoInt32), METHOD(Probe, echoUInt32), METHOD(Probe, echoString),
      METHOD(Probe, echoWString), METHOD(Probe, flipBool), METHOD(Probe, doubleInt32), METHOD(Probe, decrementUInt32),
      METHOD(Probe, exclaimString), METHOD(Probe, exclaimWString), METHOD(Probe, describePoint),
      METHOD(Probe, makePoint), METHOD(Probe, movePoint), METHOD(Probe, sumWeights), METHOD(Probe, resizePoints),
      METHOD(Probe, grid), METHOD(Probe, textWithNul), METHOD(Probe, wideWithNul), METHOD(Probe, fail),
      METHOD(Probe, constructions), METHOD(Probe, noArguments), METHOD(Probe, twoArguments));
  factories["other"] = Serve<Other>(METHOD(Other, identity));
  factories["reporter"] = Serve<Reporter>(
      METHOD(Reporter, reportFromThread), METHOD(Reporter, reportHere), METHOD(Reporter, completeHere),
      METHOD(Reporter, queryInterface), METHOD(Reporter, liveObjects), METHOD(Reporter, keepSink),
      METHOD(Reporter, reportToKept), METHOD(Reporter, dropKept), METHOD(Reporter, reportWhenReleased),
      METHOD(Reporter, releaseLate), METHOD(Reporter, lateResults));
  factories["gate"] = Serve<Gate>(METHOD(Gate, pass), METHOD(Gate, open), METHOD(Gate, reset), METHOD(Gate, stats),
                                  METHOD(Gate, meet));
  factories["tracer_controller"] = Serve<TraceController>(METHOD(TraceController, turnOnTraces));
  // A class whose construction fails: nothing may be cached for it.
  factories["broken"] = [](Napi::Env) -> std::shared_ptr<electron::node_interop::v8_helpers::wrappers::IObjectWrapper> {
    throw std::runtime_error("construction failed");
  };
  electron::node_interop::BridgeTrace trace{ovra::objptr_t<ovra::ITracer>::Retain(&bridge_test::Tracer()), 700, "bl\t"};
  return electron::node_interop::RegisterModule(env, exports, std::move(factories), std::move(trace));
}

}  // namespace

NODE_API_MODULE(bridge_test, Init)
