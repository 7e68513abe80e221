// Package fuzzer: damaged copies of the generated test packages through the MSI C
// API (our msi.dll stand-in on Linux, Wine's msi.dll under Wine); README.md gives
// the commands. Mutation i of seed S is the same on every system. Each job runs
// children one after another over its range; a child's "begin", "op", "end" and
// (from its crash handler) "crash" lines in its output file tell the job where it
// was, and the next child starts after the mutation that ended one.
// Verdict: on Linux every crash, hang or answer that is no Windows error code
// fails; under Wine hangs and crashes outside this program count as Wine's.
#ifdef _WIN32
#include <windows.h>
#else
#include <signal.h>
#include <unistd.h>

#include "windows_types.h"
#endif
#include <msi.h>
#include <msiquery.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "msi_wrapper/msi_database.h"
#include "msi_wrapper/msi_handle.h"
#include "ovra/strings.h"
#include "platform/child_process.h"
#include "platform/paths.h"
#include "test_packages.h"

namespace {

namespace fs = std::filesystem;
using Handle = installer::msi_wrapper::UniqueMsiHandle;

// Wine's hangs (about 5 % of mutations) are only counted, so its limit is short.
constexpr int kDefaultHangSeconds = msi_test::kUnderWine ? 5 : 60;
// libmsi leaks some memory at each open: a child runs at most this many mutations.
constexpr std::uint64_t kMutationsPerChild = 500;

const wchar_t* const kBasePackages[] = {L"plain.msi",    L"edge.msi",         L"notes_v1.msi",
                                        L"notes_v2.msi", L"launch_false.msi", L"custom_exe.msi"};
const wchar_t* const kCabinets[] = {L"heron.cab", L"notes2.cab"};  // must sit beside the bases

// --- Mutations ---

struct Base {
  std::wstring name;
  std::string bytes;
};
struct Mutation {
  const Base* base = nullptr;
  std::string bytes, description;
};

std::vector<Base> LoadBases() {
  std::vector<Base> bases;
  for (const wchar_t* name : kBasePackages) {
    std::ifstream in(fs::path(msi_test::PackagePath(name)), std::ios::binary);
    bases.push_back({name, std::string(std::istreambuf_iterator<char>(in), {})});
    if (bases.back().bytes.empty()) {
      std::fprintf(stderr, "msi_package_fuzz: cannot read %s\n", ovra::Utf8FromWide(msi_test::PackagePath(name)).c_str());
      std::exit(2);
    }
  }
  return bases;
}

// Only mt19937_64's output is the same everywhere (the standard distributions are not).
struct Random {
  Random(std::uint64_t seed, std::uint64_t index) {
    std::seed_seq sequence{static_cast<std::uint32_t>(seed), static_cast<std::uint32_t>(seed >> 32),
                           static_cast<std::uint32_t>(index), static_cast<std::uint32_t>(index >> 32)};
    engine.seed(sequence);
  }
  std::uint64_t Below(std::uint64_t limit) { return limit == 0 ? 0 : engine() % limit; }
  std::uint64_t Between(std::uint64_t low, std::uint64_t high) { return low + Below(high - low + 1); }
  std::mt19937_64 engine;
};

Mutation MakeMutation(const std::vector<Base>& bases, std::uint64_t seed, std::uint64_t index) {
  Random random(seed, index);
  Mutation m;
  m.base = &bases[random.Below(bases.size())];
  m.bytes = m.base->bytes;
  std::string& b = m.bytes;
  const std::size_t size = b.size();
  char text[160];
  const std::uint64_t kind = random.Below(6);
  if (kind == 0) {
    const std::uint64_t flips = random.Between(1, 16);
    for (std::uint64_t i = 0; i < flips; ++i) b[random.Below(size)] ^= static_cast<char>(1u << random.Below(8));
    std::snprintf(text, sizeof text, "%" PRIu64 " bits flipped", flips);
  } else if (kind <= 2) {
    const bool zero = kind == 1;
    const std::size_t at = random.Below(size);
    const std::size_t length = std::min<std::size_t>(random.Between(1, 1024), size - at);
    for (std::size_t i = at; i < at + length; ++i) b[i] = zero ? 0 : static_cast<char>(random.Below(256));
    std::snprintf(text, sizeof text, "%zu bytes %s at %zu", length, zero ? "zeroed" : "randomised", at);
  } else if (kind == 3) {
    b.resize(random.Below(size));
    std::snprintf(text, sizeof text, "cut to %zu bytes", b.size());
  } else if (kind == 4) {
    const std::size_t sectors = size / 512;
    const std::size_t from = random.Below(sectors), to = random.Below(sectors);
    std::copy_n(m.base->bytes.begin() + from * 512, 512, b.begin() + to * 512);
    std::snprintf(text, sizeof text, "sector %zu copied over sector %zu", from, to);
  } else {
    static const std::uint32_t edges[] = {0,          1,          0x7F,       0x80,       0xFF,       0x1000,
                                          0x7FFFFFFF, 0x80000000, 0xFFFFFFFE, 0xFFFFFFFF, 0xFFFFFFFA, 0x10000};
    const std::uint32_t value = edges[random.Below(std::size(edges))];
    const std::size_t at = random.Below(size / 4) * 4;
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
    std::snprintf(text, sizeof text, "32-bit field at %zu set to 0x%08" PRIX32, at, value);
  }
  m.description = ovra::Utf8FromWide(m.base->name) + ": " + text;
  return m;
}

void WriteMutation(const Mutation& mutation, const fs::path& file) {
  std::error_code ignored;
  fs::remove(file, ignored);  // a new file each time, not the last one rewritten
  std::ofstream(file, std::ios::binary).write(mutation.bytes.data(), static_cast<std::streamsize>(mutation.bytes.size()));
}

// --- The child's output: its progress lines, and the crash handler's ---

// Async-signal-safe, for the crash handlers; lines are written whole.
void WriteOut(const char* text, std::size_t length) {
#ifdef _WIN32
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text, static_cast<DWORD>(length), &written, nullptr);
#else
  for (ssize_t written; length > 0 && (written = write(STDOUT_FILENO, text, length)) > 0; text += written) {
    length -= static_cast<std::size_t>(written);
  }
#endif
}

void Line(const std::string& line) { WriteOut((line + "\n").c_str(), line.size() + 1); }

char g_crash_line[256];  // "crash <index> op=<op>", kept ready for the crash handler
std::size_t g_crash_length = 0;

void SetOperation(std::uint64_t index, const char* operation) {
  const int length = std::snprintf(g_crash_line, sizeof g_crash_line, "crash %" PRIu64 " op=%s", index, operation);
  g_crash_length = std::min<std::size_t>(length, sizeof g_crash_line - 1);
  Line("op " + std::to_string(index) + " " + operation);
}

#ifdef _WIN32
// The module holding `address`; null for a null address, which GetModuleHandleExW
// would take for the program itself.
HMODULE ModuleAt(const void* address) {
  HMODULE module = nullptr;
  return address && GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                        static_cast<LPCWSTR>(address), &module)
             ? module
             : nullptr;
}

// Writes "crash <index> op=<op> code=... module=<name>+<offset> ours=0|1". A fault
// outside every module (a call through a null pointer) is put on the caller,
// whose return address tops the stack.
LONG WINAPI OnCrash(EXCEPTION_POINTERS* exception) {
  const void* address = exception->ExceptionRecord->ExceptionAddress;
  HMODULE module = ModuleAt(address);
  const char* how = "";
  if (!module) {
#ifdef _WIN64
    address = *reinterpret_cast<void* const*>(exception->ContextRecord->Rsp);
#else
    address = *reinterpret_cast<void* const*>(exception->ContextRecord->Esp);
#endif
    module = ModuleAt(address);
    how = " (a call to nowhere from there)";
  }
  wchar_t name[MAX_PATH] = L"?";
  if (module) GetModuleFileNameW(module, name, MAX_PATH);
  const wchar_t* leaf = std::max(wcsrchr(name, L'\\'), wcsrchr(name, L'/'));
  const unsigned long long offset =
      module ? static_cast<const char*>(address) - reinterpret_cast<const char*>(module) : 0;
  // The innermost msi.dll frame below a fault in a library it called (the C runtime, say).
  const HMODULE msi = GetModuleHandleW(L"msi.dll");
  unsigned long long msi_offset = 0;
  void* frames[48];
  const USHORT depth = msi && module != msi ? RtlCaptureStackBackTrace(0, 48, frames, nullptr) : 0;
  for (USHORT i = 0; i < depth && msi_offset == 0; ++i) {
    if (ModuleAt(frames[i]) == msi) msi_offset = static_cast<char*>(frames[i]) - reinterpret_cast<char*>(msi);
  }
  char via[48] = "";
  if (msi_offset != 0) std::snprintf(via, sizeof via, " via msi.dll+0x%llx", msi_offset);
  char tail[400];
  const int length = std::snprintf(tail, sizeof tail, "%.*s code=0x%08lX module=%ls+0x%llx%s%s ours=%d\n",
                                   static_cast<int>(g_crash_length), g_crash_line,
                                   exception->ExceptionRecord->ExceptionCode, leaf ? leaf + 1 : name, offset, how, via,
                                   module == GetModuleHandleW(nullptr) ? 1 : 0);
  WriteOut(tail, static_cast<std::size_t>(std::clamp(length, 0, static_cast<int>(sizeof tail) - 1)));
  TerminateProcess(GetCurrentProcess(), 3);
  return EXCEPTION_EXECUTE_HANDLER;
}

void InstallCrashHandler() {
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
  SetUnhandledExceptionFilter(OnCrash);
}
#else
void OnCrash(int signal_number) {
  char tail[] = " signal=00\n";  // filled without the C library: this is a signal handler
  tail[8] = static_cast<char>('0' + signal_number / 10 % 10);
  tail[9] = static_cast<char>('0' + signal_number % 10);
  WriteOut(g_crash_line, g_crash_length);
  WriteOut(tail, sizeof tail - 1);
  signal(signal_number, SIG_DFL);
  raise(signal_number);
}

void InstallCrashHandler() {
  for (int signal_number : {SIGSEGV, SIGBUS, SIGABRT, SIGFPE, SIGILL}) signal(signal_number, OnCrash);
}
#endif

// --- One mutation through the MSI C API ---

// The results of one mutation's calls, "name=value ..."; a result no Windows
// error code has is a finding.
struct Outcome {
  bool Ok(const char* name, UINT result) {
    Count(name, result);
    bad = bad || result > 0xFFFF;
    return result == ERROR_SUCCESS;
  }
  void Count(const char* name, std::size_t count) {
    text += std::string(text.empty() ? "" : " ") + name + "=" + std::to_string(count);
  }
  std::string text;
  bool bad = false;
};

// Reads every row and field a query gives, counted into `rows`; returns the first field of each row.
std::vector<std::wstring> ReadRows(MSIHANDLE database, const std::wstring& sql, std::size_t& rows) {
  std::vector<std::wstring> first;
  Handle view;
  if (MsiDatabaseOpenViewW(database, sql.c_str(), view.receive()) != ERROR_SUCCESS ||
      MsiViewExecute(view.get(), 0) != ERROR_SUCCESS) {
    return first;
  }
  for (Handle record; MsiViewFetch(view.get(), record.receive()) == ERROR_SUCCESS; ++rows) {
    const UINT fields = MsiRecordGetFieldCount(record.get());
    for (UINT field = 1; field <= fields && field < 64; ++field) {
      MsiRecordIsNull(record.get(), field);
      MsiRecordGetInteger(record.get(), field);
      std::wstring text;
      installer::msi_wrapper::ReadRecordString(record.get(), field, text);
      if (field == 1) first.push_back(std::move(text));
    }
  }
  return first;
}

void ReadSummary(MSIHANDLE summary) {
  for (UINT property = 0, type = 0; property < 20; ++property) {
    INT number = 0;
    FILETIME time{};
    wchar_t text[300];
    DWORD size = 300;
    MsiSummaryInfoGetPropertyW(summary, property, &type, &number, &time, text, &size);
  }
}

// Queries of the kind the installer's own code runs: columns by name, a parameter.
const wchar_t* const kNamedQueries[] = {
    L"SELECT Property.Value FROM Property WHERE Property.Property='ProductCode'",
    L"SELECT Directory.DefaultDir,Directory.Directory_Parent FROM Directory WHERE Directory.Directory='TARGETDIR'",
    L"SELECT Feature.Feature,Feature.Feature_Parent,Feature.Title,Feature.Level FROM Feature ORDER BY Feature.Display",
    L"SELECT `Action`, `Condition`, `Sequence` FROM `InstallExecuteSequence` WHERE `Sequence` > 0",
    L"SELECT `File`, `Component_`, `FileName` FROM `File`, `Component` WHERE `Component_` = `Component`",
    L"SELECT Media.Cabinet FROM Media",
};

// Every table that _Tables or _Columns names, the system tables and the named
// queries; returns the number of tables.
std::size_t ReadDatabase(MSIHANDLE database, std::size_t& rows) {
  std::vector<std::wstring> tables = ReadRows(database, L"SELECT `Name` FROM `_Tables`", rows);
  const std::vector<std::wstring> columns = ReadRows(database, L"SELECT `Table` FROM `_Columns`", rows);
  tables.insert(tables.end(), columns.begin(), columns.end());
  tables.insert(tables.end(), {L"_Tables", L"_Columns", L"_Streams"});
  std::sort(tables.begin(), tables.end());
  tables.erase(std::unique(tables.begin(), tables.end()), tables.end());
  for (const std::wstring& table : tables) {
    if (table.find(L'`') == std::wstring::npos) ReadRows(database, L"SELECT * FROM `" + table + L"`", rows);
  }
  for (const wchar_t* query : kNamedQueries) ReadRows(database, query, rows);
  return tables.size();
}

// Opens, reads, writes, costs, installs and removes the package, in the work folder `work`.
void Exercise(std::uint64_t index, const fs::path& package, const fs::path& work, Outcome& outcome) {
  const std::wstring path = package.wstring();
  const auto step = [index](const char* name) { SetOperation(index, name); };
  std::error_code ignored;
  step("open");
  if (Handle database; outcome.Ok("open", MsiOpenDatabaseW(path.c_str(), MSIDBOPEN_READONLY, database.receive()))) {
    step("summary");
    if (Handle summary; outcome.Ok("summary", MsiGetSummaryInformationW(database.get(), nullptr, 0, summary.receive()))) {
      ReadSummary(summary.get());
    }
    step("tables");
    std::size_t rows = 0;
    outcome.Count("tables", ReadDatabase(database.get(), rows));
    outcome.Count("rows", rows);
  }
  step("summary by path");
  if (Handle summary; outcome.Ok("path_summary", MsiGetSummaryInformationW(0, path.c_str(), 0, summary.receive()))) {
    ReadSummary(summary.get());
  }
  {
    // A caller's writes: a property added, committed to a new file, read again.
    step("write");
    const std::wstring written = (work / L"written.msi").wstring();
    fs::remove(written, ignored);
    Handle database, again;
    if (outcome.Ok("write", MsiOpenDatabaseW(path.c_str(), written.c_str(), database.receive()))) {
      Handle view;
      if (MsiDatabaseOpenViewW(database.get(), L"SELECT `Property`, `Value` FROM `Property`", view.receive()) ==
              ERROR_SUCCESS &&
          MsiViewExecute(view.get(), 0) == ERROR_SUCCESS) {
        Handle row;
        *row.receive() = MsiCreateRecord(2);
        MsiRecordSetStringW(row.get(), 1, L"FUZZ_ADDED");
        MsiRecordSetStringW(row.get(), 2, L"1");
        outcome.Ok("insert", MsiViewModify(view.get(), MSIMODIFY_INSERT, row.get()));
      }
      outcome.Ok("commit", MsiDatabaseCommit(database.get()));
    }
    std::size_t rows = 0;
    if (fs::exists(written, ignored) &&
        outcome.Ok("reopen", MsiOpenDatabaseW(written.c_str(), MSIDBOPEN_READONLY, again.receive()))) {
      ReadDatabase(again.get(), rows);
    }
  }
  step("package");
  if (Handle session; outcome.Ok("package", MsiOpenPackageW(path.c_str(), session.receive()))) {
    outcome.Ok("cost", MsiDoActionW(session.get(), L"CostInitialize"));
    MsiDoActionW(session.get(), L"CostFinalize");
  }
  step("install");
  const std::wstring command_line =
      L"ADDLOCAL=ALL REBOOT=ReallySuppress INSTALLDIR=\"" + (work / L"target").wstring() + L"\"";
  outcome.Ok("install", MsiInstallProductW(path.c_str(), command_line.c_str()));
  step("remove");
  // Whatever got registered goes (a damaged package may name any product code).
  for (wchar_t product[40] = {}; MsiEnumProductsW(0, product) == ERROR_SUCCESS;) {
    if (!outcome.Ok("remove", MsiConfigureProductExW(product, 0, INSTALLSTATE_ABSENT, L""))) break;
  }
  fs::remove_all(work / L"target", ignored);
}

// The package folder, with the cabinets the bases need, and a folder for INSTALLER_VESK_HOME.
void PrepareWorkFolder(const fs::path& work) {
  fs::create_directories(work / L"package");
  fs::create_directories(work / L"home");
  for (const wchar_t* cabinet : kCabinets) {
    fs::copy_file(fs::path(msi_test::PackagePath(cabinet)), work / L"package" / cabinet,
                  fs::copy_options::overwrite_existing);
  }
}

// Mutations [from, to) in this process: "begin <index> <what>", "op <index> <step>",
// "end|bad <index> <results>" lines, then "done". 1 when an answer was bad.
int RunMutations(std::uint64_t seed, std::uint64_t from, std::uint64_t to, const fs::path& work) {
  msi_test::SetEnvironment("INSTALLER_VESK_HOME", (work / L"home").wstring());
  MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
  const std::vector<Base> bases = LoadBases();
  bool bad = false;
  for (std::uint64_t index = from; index < to; ++index) {
    const Mutation mutation = MakeMutation(bases, seed, index);
    Line("begin " + std::to_string(index) + " " + mutation.description);
    const fs::path file = work / L"package" / mutation.base->name;
    WriteMutation(mutation, file);
    Outcome outcome;
    Exercise(index, file, work, outcome);
    Line((outcome.bad ? "bad " : "end ") + std::to_string(index) + " " + outcome.text);
    bad = bad || outcome.bad;
  }
  Line("done");
  return bad ? 1 : 0;
}

// --- The driver: jobs, each running children one after another ---

struct Options {
  std::uint64_t seed = 13, first = 0, count = 1000, jobs = 2;
  int hang_seconds = kDefaultHangSeconds;
  fs::path write_folder;
  bool one = false;
};

struct Finding {
  std::uint64_t index;
  std::string kind;    // "crash", "hang", "bad answer"
  std::string detail;  // the child's last line about it
  bool wine = false;   // counted as Wine's, not ours
};

// What the jobs found, shared among their threads.
struct Results {
  std::mutex mutex;
  std::vector<Finding> findings;
  std::map<std::string, std::size_t> opened;  // "open=<code>" of each mutation
  std::uint64_t run = 0;
  std::atomic<std::size_t> children{0};
  std::string error;  // why a job stopped early

  void Fail(const std::string& why) {
    std::lock_guard<std::mutex> lock(mutex);
    error = why;
  }
  // Notes a mutation as run: the result it opened with, or its finding.
  void Finish(const Options& options, const std::string& open, const Finding* finding) {
    std::lock_guard<std::mutex> lock(mutex);
    if (finding) findings.push_back(*finding);
    if (!open.empty()) ++opened[open];
    if (options.count >= 1000 && ++run % (options.count / 10) == 0) {
      std::printf("msi_package_fuzz: %" PRIu64 " of %" PRIu64 " mutations, %zu findings\n", run, options.count,
                  findings.size());
      std::fflush(stdout);
    }
  }
};

// The whole lines appended to `file` since `offset`; an incomplete line waits.
std::vector<std::string> NewLines(const fs::path& file, std::size_t& offset) {
  std::vector<std::string> lines;
  std::ifstream in(file, std::ios::binary);
  in.seekg(static_cast<std::streamoff>(offset));
  for (std::string line; std::getline(in, line) && !in.eof(); lines.push_back(line)) offset += line.size() + 1;
  return lines;
}

// "<word> <index> <detail>": the detail.
std::string DetailAfterIndex(const std::string& line) {
  const std::size_t first = line.find(' ');
  const std::size_t second = first == std::string::npos ? std::string::npos : line.find(' ', first + 1);
  return second == std::string::npos ? std::string() : line.substr(second + 1);
}

// Mutations [from, end) in children run in `work` (a damaged package may name a
// folder relative to the current one), each with its output in a file.
void RunJob(const Options& options, const fs::path& work, std::uint64_t from, std::uint64_t end, Results& results) {
  using Clock = std::chrono::steady_clock;
  PrepareWorkFolder(work);
  const fs::path output = work / L"output.txt";
  std::wstring self;
  platform::GetExecutablePath(self);
  for (std::uint64_t next = from; next < end;) {
    platform::ChildProcess child;
    const std::uint64_t batch_end = std::min(end, next + kMutationsPerChild);
    const std::vector<std::wstring> command{self, L"--child", std::to_wstring(options.seed), std::to_wstring(next),
                                            std::to_wstring(batch_end)};
    // A start can fail for a moment on a loaded machine (Wine gave 1359 once in ~400).
    platform::ErrorCode error = child.Start(command, work.wstring(), output.wstring());
    for (int retry = 0; error && retry < 3; ++retry) {
      std::this_thread::sleep_for(std::chrono::seconds(1));
      error = child.Start(command, work.wstring(), output.wstring());
    }
    if (error) {
      return results.Fail("cannot start a child: error " + std::to_string(error));
    }
    ++results.children;
    std::uint64_t current = next;
    std::string operation = "start", crash_line;
    Clock::time_point since = Clock::now();
    std::size_t offset = 0;
    for (bool done = false;;) {
      std::uint32_t exit_code = 0;
      const platform::ErrorCode waited = child.Wait(exit_code, std::chrono::milliseconds(100));
      for (const std::string& line : NewLines(output, offset)) {
        const std::string word = line.substr(0, line.find(' ')), detail = DetailAfterIndex(line);
        if (word == "begin") {
          current = std::stoull(line.substr(6));
          since = Clock::now();
          operation = "start";
        } else if (word == "op") {
          operation = detail;
        } else if (word == "end" || word == "bad") {
          const Finding bad{current, "bad answer", detail};
          results.Finish(options, detail.substr(0, detail.find(' ')), word == "bad" ? &bad : nullptr);
        } else if (word == "crash") {
          crash_line = line;
        } else if (word == "done") {
          done = true;
        }
      }
      if (waited == platform::kErrorSuccess) {
        if (done) break;
        // Ended inside mutation `current`: a crash (or an exit no one asked for).
        const std::string where = crash_line.empty() ? "op=" + operation : DetailAfterIndex(crash_line);
        const Finding crash{current, "crash", where + " exit code " + std::to_string(exit_code),
                            msi_test::kUnderWine && crash_line.find("ours=0") != std::string::npos};
        results.Finish(options, {}, &crash);
        break;
      }
      if (waited != platform::kErrorTimeout) return results.Fail("waiting for a child failed: error " + std::to_string(waited));
      if (Clock::now() - since > std::chrono::seconds(options.hang_seconds)) {
        child.Terminate();
        child.Wait(exit_code);
        // Under Wine inside msi.dll: this program's own steps cannot loop.
        const Finding hang{current, "hang", "op=" + operation, msi_test::kUnderWine};
        results.Finish(options, {}, &hang);
        break;
      }
    }
    next = current + 1;
  }
}

int RunDriver(const Options& options) {
  const fs::path work = msi_test::FreshTemporaryFolder("msi_package_fuzz_");
  const auto started = std::chrono::steady_clock::now();
  // The mutations are shared out in contiguous ranges, one a job.
  const std::uint64_t jobs = std::max<std::uint64_t>(1, std::min(options.jobs, options.count));
  Results results;
  std::vector<std::thread> threads;
  for (std::uint64_t job = 0; job < jobs; ++job) {
    threads.emplace_back(RunJob, std::cref(options), work / std::to_wstring(job),
                         options.first + options.count * job / jobs, options.first + options.count * (job + 1) / jobs,
                         std::ref(results));
  }
  for (std::thread& thread : threads) thread.join();
  if (!results.error.empty()) {
    std::fprintf(stderr, "msi_package_fuzz: %s\n", results.error.c_str());
    return 2;
  }
  std::vector<Finding>& findings = results.findings;
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  std::sort(findings.begin(), findings.end(), [](const Finding& a, const Finding& b) { return a.index < b.index; });
  const std::vector<Base> bases = LoadBases();
  const fs::path kept = work / L"findings";
  std::size_t ours = 0, crashes = 0, hangs = 0;
  for (const Finding& finding : findings) {
    crashes += finding.kind == "crash";
    hangs += finding.kind == "hang";
    ours += !finding.wine;
    const Mutation mutation = MakeMutation(bases, options.seed, finding.index);
    fs::create_directories(kept);
    WriteMutation(mutation, kept / (std::to_wstring(finding.index) + L"-" + mutation.base->name));
    std::printf("%s %s %" PRIu64 " (%s): %s\n", finding.wine ? "Wine's msi.dll:" : "FINDING:", finding.kind.c_str(),
                finding.index, mutation.description.c_str(), finding.detail.c_str());
  }
  std::printf("msi_package_fuzz: seed %" PRIu64 ", mutations %" PRIu64 "..%" PRIu64 ": %" PRIu64
              " run in %.0f s (%" PRIu64 " jobs, %zu child processes); crashes %zu, hangs %zu, bad answers %zu; "
              "%zu counted as Wine's\nmsi_package_fuzz: open results:",
              options.seed, options.first, options.first + options.count - 1, options.count, seconds, jobs,
              results.children.load(), crashes, hangs, findings.size() - crashes - hangs, findings.size() - ours);
  for (const auto& [result, count] : results.opened) std::printf(" %s x%zu", result.c_str(), count);
  std::printf("\n");
  std::error_code ignored;
  if (findings.empty()) fs::remove_all(work, ignored);
  else std::printf("msi_package_fuzz: the damaged packages are in %s (msi_package_fuzz --one <index> reruns one)\n",
                   kept.string().c_str());
  return ours == 0 ? 0 : 1;
}

// Mutation `first` in this process, as a child runs it, with its lines on our output.
int RunOne(const Options& options) {
  const fs::path work = fs::temp_directory_path() / ("msi_package_fuzz_one_" + std::to_string(options.first));
  PrepareWorkFolder(work);
  fs::current_path(work);
  const int result = RunMutations(options.seed, options.first, options.first + 1, work);
  fs::current_path(work.parent_path());
  std::error_code ignored;
  fs::remove_all(work, ignored);
  return result;
}

int WriteMutations(const Options& options) {
  fs::create_directories(options.write_folder);
  const std::vector<Base> bases = LoadBases();
  for (std::uint64_t index = options.first; index < options.first + options.count; ++index) {
    const Mutation mutation = MakeMutation(bases, options.seed, index);
    WriteMutation(mutation, options.write_folder / (std::to_wstring(index) + L"-" + mutation.base->name));
  }
  std::printf("msi_package_fuzz: %" PRIu64 " mutated packages in %s\n", options.count,
              options.write_folder.string().c_str());
  return 0;
}

int Usage() {
  std::fputs(
      "usage: msi_package_fuzz [--count N] [--seed S] [--first I] [--hang-seconds T] [--jobs J]\n"
      "       msi_package_fuzz --write DIR [--count N] [--seed S] [--first I]\n"
      "       msi_package_fuzz --one I [--seed S]\n",
      stderr);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  msi_test::SetEnvironment("INSTALLER_VESK_REBOOT_COMMAND", L"true");
  if (args.size() == 4 && args[0] == "--child") {
    InstallCrashHandler();
    return RunMutations(std::stoull(args[1]), std::stoull(args[2]), std::stoull(args[3]), fs::current_path());
  }
  Options o;
  const std::map<std::string, std::uint64_t*> numbers = {
      {"--count", &o.count}, {"--seed", &o.seed}, {"--first", &o.first}, {"--jobs", &o.jobs}, {"--one", &o.first}};
  if (args.size() % 2 != 0) return Usage();
  try {
    for (std::size_t i = 0; i < args.size(); i += 2) {
      const std::string &name = args[i], &value = args[i + 1];
      if (numbers.count(name)) *numbers.at(name) = std::stoull(value);
      else if (name == "--hang-seconds") o.hang_seconds = std::stoi(value);
      else if (name == "--write") o.write_folder = fs::u8path(value);
      else return Usage();
      o.one = o.one || name == "--one";
    }
  } catch (const std::exception&) {
    return Usage();
  }
  if (o.one) return RunOne(o);
  return o.write_folder.empty() ? RunDriver(o) : WriteMutations(o);
}
