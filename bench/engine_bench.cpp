// Installer-engine benchmark, with baselines measured in the same run:
//   1. Install and then remove a package of 1,000 files (about 10 MB) through
//      MsiInstallProductW / MsiConfigureProductExW, against extracting the same
//      cabinet with libgcab into a folder and deleting the files.
//   2. The same install and removal through the setup engine, whose external
//      handler turns every message into a progress record for a callback that
//      keeps the last one under a lock, against no external handler at all.
//   3. MsiGetProductInfoW with 1,000 products registered, against 1 registered.
// Usage: engine_bench <work folder holding bench.msi and bench.cab>
#include <libgcab.h>
#include <msi.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <mutex>

#include "store/product_store.h"
#include "msi_wrapper/setup_engine.h"
#include "ovra/strings.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kRounds = 9;
constexpr int kLookups = 20000;

double Seconds(const std::function<void()>& work) {
  const auto start = Clock::now();
  work();
  return std::chrono::duration<double>(Clock::now() - start).count();
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "engine_bench: %s failed\n", what);
    std::exit(1);
  }
}

void ExtractWithGcab(const fs::path& cabinet, const fs::path& folder) {
  GFile* file = g_file_new_for_path(cabinet.c_str());
  GInputStream* input = G_INPUT_STREAM(g_file_read(file, nullptr, nullptr));
  GCabCabinet* cab = gcab_cabinet_new();
  Check(input && gcab_cabinet_load(cab, input, nullptr, nullptr), "loading the cabinet");
  GFile* target = g_file_new_for_path(folder.c_str());
  Check(gcab_cabinet_extract_simple(cab, target, nullptr, nullptr, nullptr, nullptr), "extracting the cabinet");
  g_object_unref(target);
  g_object_unref(cab);
  g_object_unref(input);
  g_object_unref(file);
}

void SetHome(const fs::path& home) {
  fs::remove_all(home);
  setenv("INSTALLER_VESK_HOME", home.c_str(), 1);
}

// A registration shaped like a real product's.
linux_msi::ProductRegistration FakeProduct(int index) {
  char code[64];
  std::snprintf(code, sizeof code, "{%08X-0000-4000-8000-%012X}", index, index);
  linux_msi::ProductRegistration product;
  product.product_code = ovra::WideFromUtf8(code);
  product.upgrade_code = L"{11111111-2222-4333-8444-555555555555}";
  for (const wchar_t* name : {L"PackageCode", L"VersionString", L"InstalledProductName", L"Publisher",
                              L"InstallLocation", L"InstallDate", L"Language", L"LocalPackage"}) {
    product.info[name] = std::wstring(name) + L" of " + product.product_code;
  }
  for (int i = 0; i < 5; ++i) {
    product.features.push_back({L"Feature" + std::to_wstring(i), i ? L"Feature0" : L"", 3});
    product.components.push_back({product.product_code + std::to_wstring(i), L"/opt/x/file" + std::to_wstring(i), 3});
    product.files.push_back(L"/opt/" + product.product_code + L"/file" + std::to_wstring(i));
  }
  return product;
}

double LookupSeconds(const std::wstring& code) {
  wchar_t value[256];
  return Seconds([&] {
    for (int i = 0; i < kLookups; ++i) {
      DWORD size = 256;
      Check(MsiGetProductInfoW(code.c_str(), L"VersionString", value, &size) == ERROR_SUCCESS, "MsiGetProductInfoW");
    }
  });
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: engine_bench <work folder>\n");
    return 2;
  }
  const fs::path work = argv[1];
  const std::wstring package = (work / "bench.msi").wstring();
  const std::wstring product = L"{6E2B9A31-0C4D-4F5E-8A71-93B2C4D5E6F7}";
  const fs::path target = work / "target";
  const std::wstring command_line = L"INSTALLDIR=" + target.wstring();

  // 1. Install and remove, rounds interleaved with the baseline.
  SetHome(work / "home");
  std::vector<double> engine, baseline;
  for (int round = 0; round < kRounds; ++round) {
    engine.push_back(Seconds([&] {
      Check(MsiInstallProductW(package.c_str(), command_line.c_str()) == ERROR_SUCCESS, "install");
      Check(MsiConfigureProductExW(product.c_str(), 0, INSTALLSTATE_ABSENT, L"") == ERROR_SUCCESS, "removal");
    }));
    Check(!fs::exists(target), "removal of every file");
    baseline.push_back(Seconds([&] {
      fs::create_directories(target);
      ExtractWithGcab(work / "bench.cab", target);
      fs::remove_all(target);
    }));
  }
  const double install = Median(engine), extract = Median(baseline);
  std::printf("install + remove, 1,000 files:  engine %.1f ms, libgcab extract + delete %.1f ms, ratio %.2f\n",
              install * 1e3, extract * 1e3, install / extract);

  // 2. The setup engine's handler on the same install and removal.
  {
    fs::copy_file(work / "bench.msi", work / installer::msi_wrapper::DefaultMsiFileName,
                  fs::copy_options::overwrite_existing);
    fs::current_path(work);
    std::mutex last_mutex;
    installer::msi_wrapper::SetupProgress last;
    long long records = 0;
    auto engine = installer::msi_wrapper::CreateMsiSetupManager(
        [&](const installer::msi_wrapper::SetupProgress& record) {
          std::lock_guard<std::mutex> lock(last_mutex);
          last = record;
          ++records;
          return IDOK;
        },
        L"");
    const std::vector<installer::msi_wrapper::SetupParameter> parameters = {{L"INSTALLDIR", target.wstring()}};
    std::vector<double> handled, bare;
    for (int round = 0; round < kRounds; ++round) {
      handled.push_back(Seconds([&] {
        Check(engine->RunSetupTask(parameters, 0) == ERROR_SUCCESS, "setup-engine install");
        Check(engine->RunUninstallProduct(product, L"", 0) == ERROR_SUCCESS, "setup-engine removal");
      }));
      bare.push_back(Seconds([&] {
        Check(MsiInstallProductW(package.c_str(), command_line.c_str()) == ERROR_SUCCESS, "install");
        Check(MsiConfigureProductExW(product.c_str(), 0, INSTALLSTATE_ABSENT, L"") == ERROR_SUCCESS, "removal");
      }));
    }
    const double with_handler = Median(handled), without = Median(bare);
    std::printf("setup-engine handler, install + remove:  %.1f ms, no handler %.1f ms, ratio %.2f (%lld records a round)\n",
                with_handler * 1e3, without * 1e3, with_handler / without, records / kRounds);
  }

  // 3. Product info lookups: 1 product registered, then 1,000.
  SetHome(work / "home-registry");
  auto store = linux_msi::ProductStore::ForCurrentHome();
  Check(store != nullptr, "opening the store");
  auto register_products = [&](int from, int to) {
    auto lock = store->TryLock();
    Check(lock != nullptr, "locking the store");
    std::vector<linux_msi::ProductRegistration> products;
    for (int i = from; i < to; ++i) {
      products.push_back(FakeProduct(i));
    }
    store->BeginOperation(linux_msi::OperationKind::kInstall, products.front().product_code);
    store->Commit(products, {});
  };
  register_products(0, 1);
  const std::wstring first = FakeProduct(0).product_code;
  const std::wstring middle = FakeProduct(500).product_code;
  std::vector<double> one, thousand;
  std::vector<double> one_rounds;
  for (int round = 0; round < kRounds; ++round) {
    one.push_back(LookupSeconds(first));
  }
  register_products(1, 1000);
  for (int round = 0; round < kRounds; ++round) {
    thousand.push_back(LookupSeconds(middle));
  }
  const double small = Median(one) / kLookups, large = Median(thousand) / kLookups;
  std::printf("MsiGetProductInfoW:  1,000 products %.2f us, 1 product %.2f us, ratio %.2f\n", large * 1e6,
              small * 1e6, large / small);
  return 0;
}
