// Package fuzzer: damaged copies of the generated test packages through the MSI C
// API (our msi.dll stand-in on Linux, Wine's msi.dll in the Windows lane). Each
// outcome must be an error code or a normal answer; a crash or a hang is a finding.
//
//   msi_package_fuzz [--count N] [--seed S] [--first I] [--hang-seconds T] [--jobs J]
//       runs mutations I .. I+N-1 of seed S (default: 1,000 from 0, seed 13),
//       shared out among J children at a time (default 2), each with a work
//       folder and an INSTALLER_VESK_HOME of its own;
//   msi_package_fuzz --write DIR [--count N] [--seed S] [--first I]
//       only writes those mutated packages to DIR, named <index>-<package>, for
//       other harnesses (a script-level fuzz of the package classes, say);
//   msi_package_fuzz --one I [--seed S]
//       runs mutation I in this process (to reproduce a finding under a debugger).
//
// Mutation i of seed S is the same on every system: a base package and one
// damage (bits flipped, a block zeroed or overwritten, a cut, a sector copied
// over another, a 32-bit field set to an edge value), from a generator seeded
// with (S, i). The mutations run in child processes, each going on until the
// last one of its batch or the first crash; a crash ends the child, and the
// next one starts after the mutation that ended it, and a mutation that runs longer than the
// hang limit has its child ended and counts as a hang. The child appends its
// progress to a file ("begin", "op", "end" lines, and "crash" from its crash
// handler), which tells the driver where it was.
//
// Each mutation, in a fresh copy beside the cabinets of the base packages:
// open read-only, every summary property, every table's rows and fields (with
// _Tables, _Columns, _Streams), the summary by path, an open for writing that
// adds a property, commits to a new file and reads that again, an install
// handle with costing, and an install (ADDLOCAL=ALL into a scratch folder, in
// a scratch INSTALLER_VESK_HOME, INSTALLER_VESK_REBOOT_COMMAND=true, no reboot)
// followed by the removal of whatever got registered.
//
// Verdict: on Linux every crash or hang fails. Under Wine (the Windows build)
// a crash whose faulting address lies outside this program is counted and
// listed as Wine's, as are hangs; a crash inside this program fails. (Under
// Wine the jobs share the prefix's product registry: an install may meet the
// other job's, and the removal step removes whatever is registered.)
#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include "windows_types.h"
#endif
#include <msi.h>
#include <msiquery.h>

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "msi_wrapper/msi_database.h"
#include "msi_wrapper/msi_handle.h"
#include "ovra/strings.h"
#include "platform/child_process.h"
#include "test_packages.h"

namespace {

namespace fs = std::filesystem;

constexpr std::uint64_t kDefaultSeed = 13;
constexpr std::uint64_t kDefaultCount = 1000;
// A mutation that runs longer is a hang. Under Wine, whose hangs are counted
// only, the limit is short, as they are many (about 5 % of mutations).
#ifdef _WIN32
constexpr int kDefaultHangSeconds = 5;
#else
constexpr int kDefaultHangSeconds = 60;
#endif
// A child runs at most this many mutations: libmsi leaks some memory at each open.
constexpr std::uint64_t kMutationsPerChild = 500;

// The bases, and the cabinets that must sit beside them.
const wchar_t* const kBasePackages[] = {L"plain.msi",    L"edge.msi",         L"notes_v1.msi",
                                        L"notes_v2.msi", L"launch_false.msi", L"custom_exe.msi"};
const wchar_t* const kCabinets[] = {L"heron.cab", L"notes2.cab"};

// --- Mutations ---

struct Base {
  std::wstring name;
  std::string bytes;
};

struct Mutation {
  const Base* base = nullptr;
  std::string bytes;
  std::string description;
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
class Random {
 public:
  Random(std::uint64_t seed, std::uint64_t index) {
    std::seed_seq sequence{static_cast<std::uint32_t>(seed), static_cast<std::uint32_t>(seed >> 32),
                           static_cast<std::uint32_t>(index), static_cast<std::uint32_t>(index >> 32)};
    engine_.seed(sequence);
  }
  std::uint64_t Below(std::uint64_t limit) { return limit == 0 ? 0 : engine_() % limit; }
  std::uint64_t Between(std::uint64_t low, std::uint64_t high) { return low + Below(high - low + 1); }

 private:
  std::mt19937_64 engine_;
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
  switch (kind) {
    case 0: {
      const std::uint64_t flips = random.Between(1, 16);
      for (std::uint64_t i = 0; i < flips; ++i) {
        b[random.Below(size)] ^= static_cast<char>(1u << random.Below(8));
      }
      std::snprintf(text, sizeof text, "%" PRIu64 " bits flipped", flips);
      break;
    }
    case 1:
    case 2: {
      const bool zero = kind == 1;
      const std::size_t at = random.Below(size);
      const std::size_t length = std::min<std::size_t>(random.Between(1, 1024), size - at);
      for (std::size_t i = at; i < at + length; ++i) {
        b[i] = zero ? 0 : static_cast<char>(random.Below(256));
      }
      std::snprintf(text, sizeof text, "%zu bytes %s at %zu", length, zero ? "zeroed" : "randomised", at);
      break;
    }
    case 3: {
      const std::size_t length = random.Below(size);
      b.resize(length);
      std::snprintf(text, sizeof text, "cut to %zu bytes", length);
      break;
    }
    case 4: {
      const std::size_t sectors = size / 512;
      const std::size_t from = random.Below(sectors), to = random.Below(sectors);
      std::copy_n(m.base->bytes.begin() + from * 512, 512, b.begin() + to * 512);
      std::snprintf(text, sizeof text, "sector %zu copied over sector %zu", from, to);
      break;
    }
    default: {
      static const std::uint32_t edges[] = {0,          1,          0x7F,       0x80,       0xFF,       0x1000,
                                            0x7FFFFFFF, 0x80000000, 0xFFFFFFFE, 0xFFFFFFFF, 0xFFFFFFFA, 0x10000};
      const std::uint32_t value = edges[random.Below(std::size(edges))];
      const std::size_t at = random.Below(size / 4) * 4;
      for (int i = 0; i < 4; ++i) {
        b[at + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
      }
      std::snprintf(text, sizeof text, "32-bit field at %zu set to 0x%08" PRIX32, at, value);
      break;
    }
  }
  m.description = ovra::Utf8FromWide(m.base->name) + ": " + text;
  return m;
}

// --- Progress file, written by the child and read by the driver ---

#ifdef _WIN32
using FileHandle = HANDLE;
#else
using FileHandle = int;
#endif

class ProgressLog {
 public:
  explicit ProgressLog(const fs::path& path) {
#ifdef _WIN32
    file_ = CreateFileW(path.wstring().c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                        OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
#else
    file_ = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
#endif
  }
  // Async-signal-safe: the crash handlers use it.
  void Write(const char* text, std::size_t length) const {
#ifdef _WIN32
    DWORD written = 0;
    WriteFile(file_, text, static_cast<DWORD>(length), &written, nullptr);
#else
    while (length > 0) {
      const ssize_t written = write(file_, text, length);
      if (written <= 0) return;
      text += written;
      length -= static_cast<std::size_t>(written);
    }
#endif
  }
  void Line(const std::string& line) const { Write((line + "\n").c_str(), line.size() + 1); }

 private:
  FileHandle file_;
};

const ProgressLog* g_log = nullptr;
char g_crash_line[256];  // "crash <index> op=<op>", kept ready for the crash handler
std::size_t g_crash_length = 0;

void SetOperation(std::uint64_t index, const char* operation) {
  g_crash_length = static_cast<std::size_t>(
      std::snprintf(g_crash_line, sizeof g_crash_line, "crash %" PRIu64 " op=%s", index, operation));
  g_crash_length = std::min(g_crash_length, sizeof g_crash_line - 1);
  g_log->Line("op " + std::to_string(index) + " " + operation);
}

#ifdef _WIN32
// The module holding `address`, or null (GetModuleHandleExW takes a null address
// for "the program itself", so that case is ruled out first).
HMODULE ModuleAt(const void* address) {
  HMODULE module = nullptr;
  if (address == nullptr ||
      !GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          static_cast<LPCWSTR>(address), &module)) {
    return nullptr;
  }
  return module;
}

// Writes "crash <index> op=<op> code=... module=<name>+<offset> ours=0|1". A fault
// at an address outside every module (a call through a null pointer) is put on
// the module of the code that made the call: its return address tops the stack.
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
  g_log->Write(tail, static_cast<std::size_t>(std::clamp(length, 0, static_cast<int>(sizeof tail) - 1)));
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
  g_log->Write(g_crash_line, g_crash_length);
  g_log->Write(tail, sizeof tail - 1);
  signal(signal_number, SIG_DFL);
  raise(signal_number);
}

void InstallCrashHandler() {
  for (int signal_number : {SIGSEGV, SIGBUS, SIGABRT, SIGFPE, SIGILL}) {
    signal(signal_number, OnCrash);
  }
}
#endif

// --- One mutation through the MSI C API ---

using Handle = installer::msi_wrapper::UniqueMsiHandle;

std::wstring FieldText(MSIHANDLE record, UINT field) {
  std::wstring text;
  installer::msi_wrapper::ReadRecordString(record, field, text);
  return text;
}

class Outcome {
 public:
  // Records a call's result; a value no Windows error code has is a finding.
  UINT Note(const char* name, UINT result) {
    text_ += std::string(text_.empty() ? "" : " ") + name + "=" + std::to_string(result);
    if (result > 0xFFFF) {
      bad_ = true;
    }
    return result;
  }
  void Count(const char* name, std::size_t count) {
    text_ += std::string(" ") + name + "=" + std::to_string(count);
  }
  const std::string& text() const { return text_; }
  bool bad() const { return bad_; }

 private:
  std::string text_;
  bool bad_ = false;
};

// Reads every row and field a query gives; returns the first field of each row.
std::vector<std::wstring> ReadRows(MSIHANDLE database, const std::wstring& sql, std::size_t& rows) {
  std::vector<std::wstring> first;
  Handle view;
  if (MsiDatabaseOpenViewW(database, sql.c_str(), view.receive()) != ERROR_SUCCESS ||
      MsiViewExecute(view.get(), 0) != ERROR_SUCCESS) {
    return first;
  }
  for (;;) {
    Handle record;
    if (MsiViewFetch(view.get(), record.receive()) != ERROR_SUCCESS) {
      break;
    }
    ++rows;
    const UINT fields = MsiRecordGetFieldCount(record.get());
    for (UINT field = 1; field <= fields && field < 64; ++field) {
      MsiRecordIsNull(record.get(), field);
      MsiRecordGetInteger(record.get(), field);
      std::wstring text = FieldText(record.get(), field);
      if (field == 1) {
        first.push_back(std::move(text));
      }
    }
  }
  return first;
}

void ReadSummary(MSIHANDLE summary) {
  for (UINT property = 0; property < 20; ++property) {
    UINT type = 0;
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

// Every table that _Tables or _Columns names, with the system tables, and the
// named queries. Rows counted into `rows`; returns the number of tables.
std::size_t ReadDatabase(MSIHANDLE database, std::size_t& rows) {
  std::vector<std::wstring> tables = ReadRows(database, L"SELECT `Name` FROM `_Tables`", rows);
  const std::vector<std::wstring> columns = ReadRows(database, L"SELECT `Table` FROM `_Columns`", rows);
  tables.insert(tables.end(), columns.begin(), columns.end());
  tables.insert(tables.end(), {L"_Tables", L"_Columns", L"_Streams"});
  std::sort(tables.begin(), tables.end());
  tables.erase(std::unique(tables.begin(), tables.end()), tables.end());
  for (const std::wstring& table : tables) {
    if (table.find(L'`') == std::wstring::npos) {
      ReadRows(database, L"SELECT * FROM `" + table + L"`", rows);
    }
  }
  for (const wchar_t* query : kNamedQueries) {
    ReadRows(database, query, rows);
  }
  return tables.size();
}

std::wstring ProductCodeOf(std::size_t index) {
  wchar_t code[40] = {};
  return MsiEnumProductsW(static_cast<DWORD>(index), code) == ERROR_SUCCESS ? code : L"";
}

std::string Exercise(std::uint64_t index, const fs::path& package, const fs::path& work, Outcome& outcome) {
  const std::wstring path = package.wstring();
  {
    SetOperation(index, "open");
    Handle database;
    if (outcome.Note("open", MsiOpenDatabaseW(path.c_str(), MSIDBOPEN_READONLY, database.receive())) ==
        ERROR_SUCCESS) {
      SetOperation(index, "summary");
      Handle summary;
      if (outcome.Note("summary", MsiGetSummaryInformationW(database.get(), nullptr, 0, summary.receive())) ==
          ERROR_SUCCESS) {
        ReadSummary(summary.get());
      }
      SetOperation(index, "tables");
      std::size_t rows = 0;
      outcome.Count("tables", ReadDatabase(database.get(), rows));
      outcome.Count("rows", rows);
    }
  }
  {
    SetOperation(index, "summary by path");
    Handle summary;
    if (outcome.Note("path_summary", MsiGetSummaryInformationW(0, path.c_str(), 0, summary.receive())) ==
        ERROR_SUCCESS) {
      ReadSummary(summary.get());
    }
  }
  {
    // A caller's writes: a property added, committed to a new file, read again.
    SetOperation(index, "write");
    const std::wstring written = (work / L"written.msi").wstring();
    std::error_code ignored;
    fs::remove(written, ignored);
    Handle database;
    if (outcome.Note("write", MsiOpenDatabaseW(path.c_str(), written.c_str(), database.receive())) ==
        ERROR_SUCCESS) {
      Handle view;
      if (MsiDatabaseOpenViewW(database.get(), L"SELECT `Property`, `Value` FROM `Property`", view.receive()) ==
              ERROR_SUCCESS &&
          MsiViewExecute(view.get(), 0) == ERROR_SUCCESS) {
        Handle row;
        *row.receive() = MsiCreateRecord(2);
        MsiRecordSetStringW(row.get(), 1, L"FUZZ_ADDED");
        MsiRecordSetStringW(row.get(), 2, L"1");
        outcome.Note("insert", MsiViewModify(view.get(), MSIMODIFY_INSERT, row.get()));
      }
      outcome.Note("commit", MsiDatabaseCommit(database.get()));
    }
    Handle again;
    if (fs::exists(written, ignored) &&
        outcome.Note("reopen", MsiOpenDatabaseW(written.c_str(), MSIDBOPEN_READONLY, again.receive())) ==
            ERROR_SUCCESS) {
      std::size_t rows = 0;
      ReadDatabase(again.get(), rows);
    }
  }
  {
    SetOperation(index, "package");
    Handle package;
    if (outcome.Note("package", MsiOpenPackageW(path.c_str(), package.receive())) == ERROR_SUCCESS) {
      outcome.Note("cost", MsiDoActionW(package.get(), L"CostInitialize"));
      MsiDoActionW(package.get(), L"CostFinalize");
    }
  }
  SetOperation(index, "install");
  const std::wstring command_line =
      L"ADDLOCAL=ALL REBOOT=ReallySuppress INSTALLDIR=\"" + (work / L"target").wstring() + L"\"";
  outcome.Note("install", MsiInstallProductW(path.c_str(), command_line.c_str()));
  SetOperation(index, "remove");
  // Whatever got registered goes (a damaged package may name any product code).
  for (std::wstring product; !(product = ProductCodeOf(0)).empty();) {
    if (outcome.Note("remove", MsiConfigureProductExW(product.c_str(), 0, INSTALLSTATE_ABSENT, L"")) !=
        ERROR_SUCCESS) {
      break;
    }
  }
  std::error_code ignored;
  fs::remove_all(work / L"target", ignored);
  return outcome.text();
}

// --- The child: mutations from..to, in order ---

fs::path SelfPath() {
#ifdef _WIN32
  wchar_t path[MAX_PATH];
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  return path;
#else
  return fs::read_symlink("/proc/self/exe");
#endif
}

void SetVariable(const char* name, const fs::path& value) {
#ifdef _WIN32
  _wputenv_s(ovra::WideFromUtf8(name).c_str(), value.wstring().c_str());
#else
  setenv(name, value.c_str(), 1);
#endif
}

// A work folder: the package folder with the cabinets the bases need beside them,
// and a folder for INSTALLER_VESK_HOME.
void PrepareWorkFolder(const fs::path& work) {
  fs::create_directories(work / L"package");
  fs::create_directories(work / L"home");
  for (const wchar_t* cabinet : kCabinets) {
    fs::copy_file(fs::path(msi_test::PackagePath(cabinet)), work / L"package" / cabinet,
                  fs::copy_options::overwrite_existing);
  }
}

fs::path WriteMutation(const Mutation& mutation, const fs::path& folder, const std::wstring& name) {
  const fs::path file = folder / name;
  std::error_code ignored;
  fs::remove(file, ignored);
  std::ofstream(file, std::ios::binary).write(mutation.bytes.data(), static_cast<std::streamsize>(mutation.bytes.size()));
  return file;
}

int RunChild(std::uint64_t seed, std::uint64_t from, std::uint64_t to, const fs::path& work,
             const fs::path& progress) {
  const ProgressLog log(progress);
  g_log = &log;
  InstallCrashHandler();
  SetVariable("INSTALLER_VESK_HOME", work / L"home");
  MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
  const std::vector<Base> bases = LoadBases();
  for (std::uint64_t index = from; index < to; ++index) {
    log.Line("begin " + std::to_string(index));
    const Mutation mutation = MakeMutation(bases, seed, index);
    const fs::path file = WriteMutation(mutation, work / L"package", mutation.base->name);
    Outcome outcome;
    Exercise(index, file, work, outcome);
    log.Line((outcome.bad() ? "bad " : "end ") + std::to_string(index) + " " + outcome.text());
  }
  log.Line("done");
  return 0;
}

// --- The driver ---

struct Finding {
  std::uint64_t index;
  std::string kind;    // "crash", "hang", "bad answer"
  std::string detail;  // the child's last line about it
  bool wine = false;   // counted as Wine's, not ours
};

struct Options {
  std::uint64_t seed = kDefaultSeed;
  std::uint64_t first = 0;
  std::uint64_t count = kDefaultCount;
  int hang_seconds = kDefaultHangSeconds;
  std::uint64_t jobs = 2;
  fs::path write_folder;
  bool one = false;
};

// Reads the lines the child appended since the last call.
class ProgressReader {
 public:
  explicit ProgressReader(fs::path path) : path_(std::move(path)) {}
  std::vector<std::string> NewLines() {
    std::vector<std::string> lines;
    std::ifstream in(path_, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(offset_));
    std::string line;
    while (std::getline(in, line)) {
      if (in.eof()) break;  // an incomplete line: read again next time
      offset_ += line.size() + 1;
      lines.push_back(line);
    }
    return lines;
  }

 private:
  fs::path path_;
  std::size_t offset_ = 0;
};

std::string DetailAfterIndex(const std::string& line) {
  // "<word> <index> <detail>"
  const std::size_t first = line.find(' ');
  const std::size_t second = first == std::string::npos ? std::string::npos : line.find(' ', first + 1);
  return second == std::string::npos ? std::string() : line.substr(second + 1);
}

// One child at a time over a share of the mutations, in a work folder of its own.
class Slot {
 public:
  Slot(fs::path work, std::uint64_t first, std::uint64_t end)
      : work_(std::move(work)), progress_(work_ / L"progress.txt"), reader_(progress_), next_(first), end_(end) {
    PrepareWorkFolder(work_);
  }

  bool finished() const { return next_ >= end_ && !running_; }
  std::size_t children() const { return children_; }
  std::uint64_t next() const { return next_; }

  // Starts a child when none runs, reads its progress, and notes what ended it.
  bool Poll(const Options& options, std::vector<Finding>& findings, std::map<std::string, std::size_t>& opened) {
    if (!running_) {
      if (next_ >= end_) return true;
      const std::uint64_t batch_end = std::min(end_, next_ + kMutationsPerChild);
      child_ = platform::ChildProcess();
      // In its work folder: a damaged package may name a folder relative to the current one.
      if (const platform::ErrorCode error =
              child_.Start({SelfPath().wstring(), L"--child", std::to_wstring(options.seed), std::to_wstring(next_),
                            std::to_wstring(batch_end), work_.wstring(), progress_.wstring()},
                           work_.wstring())) {
        std::fprintf(stderr, "msi_package_fuzz: cannot start a child: error %u\n", error);
        return false;
      }
      running_ = true;
      ++children_;
      current_ = next_;
      last_op_ = "start";
      current_since_ = std::chrono::steady_clock::now();
      done_ = false;
      crash_line_.clear();
    }
    std::uint32_t exit_code = 0;
    const platform::ErrorCode waited = child_.Wait(exit_code, std::chrono::milliseconds(0));
    for (const std::string& line : reader_.NewLines()) {
      const std::string word = line.substr(0, line.find(' '));
      if (word == "begin") {
        current_ = std::stoull(line.substr(6));
        current_since_ = std::chrono::steady_clock::now();
        last_op_ = "start";
      } else if (word == "op") {
        last_op_ = DetailAfterIndex(line);
      } else if (word == "end" || word == "bad") {
        const std::string detail = DetailAfterIndex(line);
        ++opened[detail.substr(0, detail.find(' '))];
        if (word == "bad") findings.push_back({current_, "bad answer", detail});
        next_ = current_ + 1;
      } else if (word == "crash") {
        crash_line_ = line;
      } else if (word == "done") {
        done_ = true;
      }
    }
    if (waited == platform::kErrorSuccess) {
      running_ = false;
      if (!done_) {
        // Ended inside mutation `current_`: a crash (or an exit no one asked for).
        Finding finding{current_, "crash",
                        (crash_line_.empty() ? "op=" + last_op_ : DetailAfterIndex(crash_line_)) + " exit code " +
                            std::to_string(exit_code)};
#ifdef _WIN32
        finding.wine = crash_line_.find("ours=0") != std::string::npos;
#endif
        findings.push_back(finding);
        next_ = current_ + 1;
      }
    } else if (waited != platform::kErrorTimeout) {
      std::fprintf(stderr, "msi_package_fuzz: waiting for a child failed: error %u\n", waited);
      return false;
    } else if (std::chrono::steady_clock::now() - current_since_ > std::chrono::seconds(options.hang_seconds)) {
      child_.Terminate();
      child_.Wait(exit_code);
      running_ = false;
      Finding finding{current_, "hang", "op=" + last_op_};
#ifdef _WIN32
      finding.wine = true;  // inside msi.dll: this program's own steps cannot loop
#endif
      findings.push_back(finding);
      next_ = current_ + 1;
    }
    return true;
  }

 private:
  const fs::path work_;
  const fs::path progress_;
  ProgressReader reader_;
  std::uint64_t next_;
  const std::uint64_t end_;
  platform::ChildProcess child_;
  bool running_ = false;
  std::size_t children_ = 0;
  std::uint64_t current_ = 0;
  std::string last_op_;
  std::chrono::steady_clock::time_point current_since_;
  bool done_ = false;
  std::string crash_line_;
};

int RunDriver(const Options& options) {
  const fs::path work = fs::temp_directory_path() /
                        ("msi_package_fuzz_" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
  SetVariable("INSTALLER_VESK_REBOOT_COMMAND", "true");
  const std::vector<Base> bases = LoadBases();
  const auto started = std::chrono::steady_clock::now();

  // The mutations are shared out in contiguous ranges, one a job.
  const std::uint64_t end = options.first + options.count;
  const std::uint64_t jobs = std::max<std::uint64_t>(1, std::min<std::uint64_t>(options.jobs, options.count));
  std::vector<std::unique_ptr<Slot>> slots;
  for (std::uint64_t job = 0; job < jobs; ++job) {
    slots.push_back(std::make_unique<Slot>(work / std::to_wstring(job), options.first + options.count * job / jobs,
                                           options.first + options.count * (job + 1) / jobs));
  }
  std::vector<Finding> findings;
  std::map<std::string, std::size_t> opened;  // "open=<code>" of each mutation
  std::uint64_t reported = 0;
  while (!std::all_of(slots.begin(), slots.end(), [](const auto& slot) { return slot->finished(); })) {
    for (const auto& slot : slots) {
      if (!slot->Poll(options, findings, opened)) return 2;
    }
    std::uint64_t run = 0;
    for (const auto& slot : slots) run += slot->next() - (options.first + options.count * (&slot - &slots[0]) / jobs);
    if (options.count >= 1000 && run >= reported + options.count / 10) {
      reported = run;
      std::printf("msi_package_fuzz: %" PRIu64 " of %" PRIu64 " mutations, %zu findings\n", run, options.count,
                  findings.size());
      std::fflush(stdout);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }

  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  std::size_t ours = 0, crashes = 0, hangs = 0, children = 0;
  for (const auto& slot : slots) children += slot->children();
  std::sort(findings.begin(), findings.end(), [](const Finding& a, const Finding& b) { return a.index < b.index; });
  const fs::path kept = work / L"findings";
  for (const Finding& finding : findings) {
    crashes += finding.kind == "crash";
    hangs += finding.kind == "hang";
    ours += !finding.wine;
    const Mutation mutation = MakeMutation(bases, options.seed, finding.index);
    fs::create_directories(kept);
    WriteMutation(mutation, kept, std::to_wstring(finding.index) + L"-" + mutation.base->name);
    std::printf("%s %s %" PRIu64 " (%s): %s\n", finding.wine ? "Wine's msi.dll:" : "FINDING:", finding.kind.c_str(),
                finding.index, mutation.description.c_str(), finding.detail.c_str());
  }
  std::printf("msi_package_fuzz: seed %" PRIu64 ", mutations %" PRIu64 "..%" PRIu64 ": %" PRIu64
              " run in %.0f s (%" PRIu64 " jobs, %zu child processes); crashes %zu, hangs %zu, bad answers %zu; "
              "%zu counted as Wine's\n",
              options.seed, options.first, end - 1, options.count, seconds, jobs, children, crashes, hangs,
              findings.size() - crashes - hangs, findings.size() - ours);
  std::printf("msi_package_fuzz: open results:");
  for (const auto& [result, count] : opened) {
    std::printf(" %s x%zu", result.c_str(), count);
  }
  std::printf("\n");
  std::error_code ignored;
  if (findings.empty()) {
    fs::remove_all(work, ignored);
  } else {
    std::printf("msi_package_fuzz: the damaged packages are in %s (msi_package_fuzz --one <index> reruns one)\n",
                kept.string().c_str());
  }
  return ours == 0 ? 0 : 1;
}

int RunOne(const Options& options) {
  const fs::path work = fs::temp_directory_path() / ("msi_package_fuzz_one_" + std::to_string(options.first));
  PrepareWorkFolder(work);
  fs::current_path(work);  // a damaged package may name a folder relative to the current one
  SetVariable("INSTALLER_VESK_HOME", work / L"home");
  SetVariable("INSTALLER_VESK_REBOOT_COMMAND", "true");
  const ProgressLog log(work / L"progress.txt");
  g_log = &log;
  MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
  const std::vector<Base> bases = LoadBases();
  const Mutation mutation = MakeMutation(bases, options.seed, options.first);
  std::printf("%" PRIu64 ": %s\n", options.first, mutation.description.c_str());
  Outcome outcome;
  Exercise(options.first, WriteMutation(mutation, work / L"package", mutation.base->name), work, outcome);
  std::printf("%s\n", outcome.text().c_str());
  std::error_code ignored;
  fs::remove_all(work, ignored);
  return outcome.bad() ? 1 : 0;
}

int WriteMutations(const Options& options) {
  fs::create_directories(options.write_folder);
  const std::vector<Base> bases = LoadBases();
  for (std::uint64_t index = options.first; index < options.first + options.count; ++index) {
    const Mutation mutation = MakeMutation(bases, options.seed, index);
    WriteMutation(mutation, options.write_folder, std::to_wstring(index) + L"-" + mutation.base->name);
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
  if (args.size() == 6 && args[0] == "--child") {
    return RunChild(std::stoull(args[1]), std::stoull(args[2]), std::stoull(args[3]), fs::u8path(args[4]),
                    fs::u8path(args[5]));
  }
  Options options;
  try {
    for (std::size_t i = 0; i < args.size(); ++i) {
      const std::string& name = args[i];
      if (i + 1 >= args.size()) return Usage();
      const std::string& value = args[++i];
      if (name == "--count") options.count = std::stoull(value);
      else if (name == "--seed") options.seed = std::stoull(value);
      else if (name == "--first") options.first = std::stoull(value);
      else if (name == "--hang-seconds") options.hang_seconds = std::stoi(value);
      else if (name == "--jobs") options.jobs = std::stoull(value);
      else if (name == "--write") options.write_folder = fs::u8path(value);
      else if (name == "--one") { options.first = std::stoull(value); options.one = true; }
      else return Usage();
    }
  } catch (const std::exception&) {
    return Usage();
  }
  if (options.one) return RunOne(options);
  if (!options.write_folder.empty()) return WriteMutations(options);
  return RunDriver(options);
}
