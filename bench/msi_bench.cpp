// MSI access benchmark: generates packages with msibuild, then reports in one
// run how the access library compares with baselines measured alongside it.
//   1. All File rows (10,000) read through MsiView/MsiRecord, against a bare
//      libmsi loop reading the same fields.
//   2. ReadProductFeatures (1,000 features with Condition rows), against reading
//      the Feature and Condition tables alone; and its growth from 1,000 to
//      4,000 features, which stays linear when no feature rescans the Condition
//      table. The growth is also given relative to that of the tables alone,
//      which a loaded machine skews alike (linear: 1).
//   3. Opening a package read-only and closing it, 10 times, against bare
//      libmsi doing the same (on Linux every package is read by the package-check
//      helper once, before libmsi may open it: the later opens find its verdict);
//      and a package opened for the first time, against libmsi's first open of it.
// Usage: msi_bench <work folder>
#include <libmsi.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "msi_wrapper/msi_database.h"
#include "msi_wrapper/msi_handle.h"
#include "msi_wrapper/package_queries.h"
#include "ovra/strings.h"

namespace {

using namespace installer::msi_wrapper;

constexpr int kFileRows = 10000;
constexpr int kRepetitions = 15;

void WriteTable(const std::string& path, const std::string& header, const std::vector<std::string>& rows) {
  std::ofstream out(path, std::ios::binary);
  out << header;
  for (const std::string& row : rows) {
    out << row << '\n';
  }
}

// A package with `files` File rows and `features` features, each with one
// Condition row and every tenth with a second one.
std::string GeneratePackage(const std::string& folder, const std::string& name, int files, int features) {
  std::vector<std::string> file_rows;
  for (int i = 0; i < files; ++i) {
    const std::string id = "file" + std::to_string(i);
    file_rows.push_back(id + "\tcomp" + std::to_string(i % 100) + "\tF" + std::to_string(i) + "~1.DAT|" + id +
                        ".dat\t" + std::to_string(1000 + i) + "\t1.0.0." + std::to_string(i % 50) + "\t1033\t512\t" +
                        std::to_string(i + 1));
  }
  std::vector<std::string> feature_rows;
  std::vector<std::string> condition_rows;
  for (int i = 0; i < features; ++i) {
    const std::string id = "Feature" + std::to_string(i);
    const std::string parent = i == 0 ? "" : "Feature" + std::to_string((i - 1) / 4);
    feature_rows.push_back(id + "\t" + parent + "\tTitle of " + id + "\tDescription of feature " +
                           std::to_string(i) + "\t" + std::to_string(i % 3) + "\t" + std::to_string(1 + i % 5) +
                           "\t\t0");
    condition_rows.push_back(id + "\t" + std::to_string(i % 7) + "\tVersionNT >= " + std::to_string(500 + i));
    if (i % 10 == 0) {
      condition_rows.push_back(id + "\t100\tNOT Installed AND SLOT=\"" + std::to_string(i) + "\"");
    }
  }
  const std::string dir = folder + "/" + name;
  std::system(("mkdir -p '" + dir + "'").c_str());
  WriteTable(dir + "/File.idt",
             "File\tComponent_\tFileName\tFileSize\tVersion\tLanguage\tAttributes\tSequence\n"
             "s72\ts72\tl255\ti4\tS72\tS20\tI2\ti4\nFile\tFile\n",
             file_rows);
  WriteTable(dir + "/Feature.idt",
             "Feature\tFeature_Parent\tTitle\tDescription\tDisplay\tLevel\tDirectory_\tAttributes\n"
             "s38\tS38\tL64\tL255\tI2\ti2\tS72\ti2\nFeature\tFeature\n",
             feature_rows);
  WriteTable(dir + "/Condition.idt", "Feature_\tLevel\tCondition\ns38\ti2\tS255\nCondition\tFeature_\tLevel\n",
             condition_rows);
  const std::string package = dir + ".msi";
  const std::string command = "rm -f '" + package + "' && msibuild '" + package + "' -i '" + dir + "/File.idt' -i '" +
                              dir + "/Feature.idt' -i '" + dir + "/Condition.idt'";
  if (std::system(command.c_str()) != 0) {
    std::fprintf(stderr, "msibuild failed: %s\n", command.c_str());
    std::exit(1);
  }
  return package;
}

struct Timing {
  double median_ms;
  double fastest_ms;
};

// Times two runs alternately, so that both see the same machine load; each run
// returns a count that keeps its work observable and must not change between
// repetitions.
std::pair<Timing, Timing> MeasurePair(const char* label_a, const std::function<long()>& run_a, const char* label_b,
                                      const std::function<long()>& run_b) {
  const std::function<long()>* runs[] = {&run_a, &run_b};
  const char* labels[] = {label_a, label_b};
  std::vector<double> times[2];
  long results[2] = {-1, -1};
  for (int repetition = 0; repetition < kRepetitions; ++repetition) {
    for (int which = 0; which < 2; ++which) {
      const auto start = std::chrono::steady_clock::now();
      const long count = (*runs[which])();
      const auto stop = std::chrono::steady_clock::now();
      if (count < 0 || (results[which] >= 0 && count != results[which])) {
        std::fprintf(stderr, "%s: bad result %ld\n", labels[which], count);
        std::exit(1);
      }
      results[which] = count;
      times[which].push_back(std::chrono::duration<double, std::milli>(stop - start).count());
    }
  }
  Timing timings[2];
  for (int which = 0; which < 2; ++which) {
    std::sort(times[which].begin(), times[which].end());
    timings[which] = {times[which][times[which].size() / 2], times[which].front()};
    std::printf("  %-50s median %8.2f ms, fastest %8.2f ms  (result %ld)\n", labels[which], timings[which].median_ms,
                timings[which].fastest_ms, results[which]);
  }
  return {timings[0], timings[1]};
}

void PrintRatio(const char* label, const Timing& a, const Timing& b, const char* note = "") {
  std::printf("  %-54s %5.2f (fastest %5.2f)%s\n", label, a.median_ms / b.median_ms, a.fastest_ms / b.fastest_ms,
              note);
}

// Characters of every field of every File row, through the access library.
long ReadFilesThroughWrapper(MsiDatabase& database) {
  std::unique_ptr<MsiView> view;
  if (database.OpenView(L"SELECT * FROM `File`", view) != ERROR_SUCCESS) {
    return -1;
  }
  long characters = 0;
  while (auto record = view->Fetch()) {
    const unsigned fields = record->GetFieldCount();
    for (unsigned field = 1; field <= fields; ++field) {
      characters += static_cast<long>(record->GetString(field).size());
    }
  }
  return characters;
}

// The same through libmsi directly.
long ReadFilesThroughLibmsi(LibmsiDatabase* database) {
  LibmsiQuery* query = libmsi_query_new(database, "SELECT * FROM `File`", nullptr);
  if (!query || !libmsi_query_execute(query, nullptr, nullptr)) {
    return -1;
  }
  long characters = 0;
  while (LibmsiRecord* record = libmsi_query_fetch(query, nullptr)) {
    const guint fields = libmsi_record_get_field_count(record);
    for (guint field = 1; field <= fields; ++field) {
      gchar* text = libmsi_record_get_string(record, field);
      // Count characters, not bytes, as the wide strings do.
      characters += text ? static_cast<long>(g_utf8_strlen(text, -1)) : 0;
      g_free(text);
    }
    g_object_unref(record);
  }
  g_object_unref(query);
  return characters;
}

// Reads the fields ReadProductFeatures reads, from both tables, and nothing more.
long ReadFeatureAndConditionTables(MSIHANDLE database) {
  long values = 0;
  const std::pair<const wchar_t*, UINT> queries[] = {
      {L"SELECT Feature.Feature,Feature.Feature_Parent,Feature.Title,Feature.Description,Feature.Display,"
       L"Feature.Level FROM Feature",
       6},
      {L"SELECT Condition.Feature_,Condition.Level,Condition.Condition FROM Condition", 3},
  };
  for (const auto& [sql, fields] : queries) {
    MSIHANDLE raw = 0;
    if (MsiDatabaseOpenViewW(database, sql, &raw) != ERROR_SUCCESS) {
      return -1;
    }
    UniqueMsiHandle view(raw);
    MsiViewExecute(view.get(), 0);
    while (MsiViewFetch(view.get(), &raw) == ERROR_SUCCESS) {
      UniqueMsiHandle record(raw);
      std::wstring text;
      for (UINT field = 1; field <= fields; ++field) {
        ReadRecordString(record.get(), field, text);
        values += static_cast<long>(text.size());
      }
    }
  }
  return values;
}

long ReadFeatures(MSIHANDLE database) {
  std::vector<ProductFeature> features;
  if (ReadProductFeatures(database, features) != ERROR_SUCCESS) {
    return -1;
  }
  long conditioned = 0;
  for (const ProductFeature& feature : features) {
    conditioned += feature.activeInstallLevel.condition.empty() ? 0 : 1;
  }
  return static_cast<long>(features.size()) * 100000 + conditioned;
}

constexpr int kOpens = 10;

long OpenAndClose(const std::string& path, int times) {
  const std::wstring wide = ovra::WideFromUtf8(path);
  for (int i = 0; i < times; ++i) {
    MSIHANDLE handle = 0;
    if (MsiOpenDatabaseW(wide.c_str(), MSIDBOPEN_READONLY, &handle) != ERROR_SUCCESS) {
      return -1;
    }
    MsiCloseHandle(handle);
  }
  return times;
}

long OpenAndCloseBare(const std::string& path, int times) {
  for (int i = 0; i < times; ++i) {
    LibmsiDatabase* database = libmsi_database_new(path.c_str(), LIBMSI_DB_FLAGS_READONLY, nullptr, nullptr);
    if (!database) {
      return -1;
    }
    g_object_unref(database);
  }
  return times;
}

UniqueMsiHandle OpenRaw(const std::string& path) {
  MSIHANDLE handle = 0;
  if (MsiOpenDatabaseW(ovra::WideFromUtf8(path).c_str(), MSIDBOPEN_READONLY, &handle) != ERROR_SUCCESS) {
    std::fprintf(stderr, "cannot open %s\n", path.c_str());
    std::exit(1);
  }
  return UniqueMsiHandle(handle);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <work folder>\n", argv[0]);
    return 2;
  }
  const std::string folder = argv[1];
  std::printf("Generating packages in %s\n", folder.c_str());
  const std::string large = GeneratePackage(folder, "bench_1000", kFileRows, 1000);
  const std::string larger = GeneratePackage(folder, "bench_4000", 10, 4000);
  std::printf("%d runs each, alternating with the baseline:\n", kRepetitions);

  UINT error = 0;
  auto database = OpenMsiDatabase(ovra::WideFromUtf8(large), error);
  LibmsiDatabase* bare = libmsi_database_new(large.c_str(), LIBMSI_DB_FLAGS_READONLY, nullptr, nullptr);
  if (!database || !bare) {
    std::fprintf(stderr, "cannot open %s\n", large.c_str());
    return 1;
  }
  const auto [wrapper_files, libmsi_files] =
      MeasurePair("File rows via MsiView/MsiRecord", [&] { return ReadFilesThroughWrapper(*database); },
                  "File rows via bare libmsi", [&] { return ReadFilesThroughLibmsi(bare); });
  g_object_unref(bare);

  UniqueMsiHandle raw = OpenRaw(large);
  const auto [features, tables] =
      MeasurePair("ReadProductFeatures, 1,000 features", [&] { return ReadFeatures(raw.get()); },
                  "Feature + Condition tables alone, 1,000 features",
                  [&] { return ReadFeatureAndConditionTables(raw.get()); });
  UniqueMsiHandle raw_larger = OpenRaw(larger);
  const auto [features_larger, tables_larger] =
      MeasurePair("ReadProductFeatures, 4,000 features", [&] { return ReadFeatures(raw_larger.get()); },
                  "Feature + Condition tables alone, 4,000 features",
                  [&] { return ReadFeatureAndConditionTables(raw_larger.get()); });

  // Copies for first opens, made now: by the time they are opened they are older
  // than the two seconds within which the check hashes a file's content.
  std::vector<std::string> copies;
  for (int i = 0; i < kRepetitions; ++i) {
    copies.push_back(folder + "/first_open_" + std::to_string(i) + ".msi");
    std::system(("cp '" + large + "' '" + copies.back() + "'").c_str());
  }
  OpenAndClose(large, 1);  // its first open: the check's verdict
  const auto [opens, bare_opens] =
      MeasurePair("Open + close, 10 times", [&] { return OpenAndClose(large, kOpens); },
                  "Open + close, 10 times, bare libmsi", [&] { return OpenAndCloseBare(large, kOpens); });
  int next_copy = 0, next_bare_copy = 0;
  const auto [first_opens, bare_first_opens] =
      MeasurePair("First open + close of a copy", [&] { return OpenAndClose(copies.at(next_copy++), 1); },
                  "First open + close of a copy, bare libmsi",
                  [&] { return OpenAndCloseBare(copies.at(next_bare_copy++), 1); });

  std::printf("Ratios of medians:\n");
  PrintRatio("File rows, access library / bare libmsi", wrapper_files, libmsi_files);
  PrintRatio("ReadProductFeatures / tables alone, 1,000 features", features, tables);
  PrintRatio("ReadProductFeatures / tables alone, 4,000 features", features_larger, tables_larger);
  PrintRatio("ReadProductFeatures, 4,000 / 1,000 features", features_larger, features, "  (rows: 4)");
  PrintRatio("tables alone, 4,000 / 1,000 features", tables_larger, tables);
  std::printf("  %-54s %5.2f  (linear: 1)\n", "ReadProductFeatures growth / tables' growth",
              (features_larger.median_ms / features.median_ms) / (tables_larger.median_ms / tables.median_ms));
  PrintRatio("Open + close, access library / bare libmsi", opens, bare_opens);
  PrintRatio("First open + close, access library / bare libmsi", first_opens, bare_first_opens);
  return 0;
}
