#include "store/product_store.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cwctype>
#include <fstream>
#include <functional>
#include <iterator>

#include "test_packages.h"

namespace linux_msi {

bool operator==(const InstalledFeature& a, const InstalledFeature& b) {
  return a.name == b.name && a.parent == b.parent && a.state == b.state;
}
bool operator==(const InstalledComponent& a, const InstalledComponent& b) {
  return a.component_id == b.component_id && a.key_path == b.key_path && a.state == b.state;
}
bool operator==(const RecordedRegistryValue& a, const RecordedRegistryValue& b) {
  return a.root == b.root && a.key == b.key && a.name == b.name && a.value == b.value;
}
bool operator==(const ProductRegistration& a, const ProductRegistration& b) {
  return a.product_code == b.product_code && a.upgrade_code == b.upgrade_code && a.info == b.info &&
         a.features == b.features && a.components == b.components && a.files == b.files && a.folders == b.folders &&
         a.registry_values == b.registry_values;
}

namespace {
namespace fs = std::filesystem;
using Kind = JournalEntry::Kind;

const std::wstring kProductA = L"{A0000000-0000-0000-0000-00000000000A}";
const std::wstring kProductB = L"{B0000000-0000-0000-0000-00000000000B}";
const std::wstring kProductC = L"{C0000000-0000-0000-0000-00000000000C}";
const std::wstring kUpgrade = L"{99999999-0000-0000-0000-000000000000}";
const std::wstring kSharedComponent = L"{5AAAAAAA-0000-0000-0000-000000000001}";

std::wstring Lower(std::wstring text) {
  for (wchar_t& c : text) c = static_cast<wchar_t>(std::towlower(c));
  return text;
}
void Write(const fs::path& path, const std::string& text) { std::ofstream(path) << text; }
std::string Read(const fs::path& path) {
  std::ifstream file(path);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

ProductRegistration Product(const std::wstring& code, const std::wstring& upgrade, const std::wstring& name) {
  ProductRegistration product;
  product.product_code = code;
  product.upgrade_code = upgrade;
  product.info = {{L"InstalledProductName", name}, {L"VersionString", L"1.2.3"}};
  product.features = {{L"Main", L"", 3}, {L"Docs", L"Main", 2}};
  product.components = {{kSharedComponent, L"/drive/app/app.exe", 3}};
  product.files = {L"/drive/app/app.exe"};
  product.folders = {L"/drive/app"};
  product.registry_values = {{2, L"Software\\Vendor", L"Path", L"/drive/app"}};
  return product;
}

// A child process that runs `work`, reports, then waits for Kill() and ends
// with _exit: no destructor runs, nothing is committed, as when killed.
class Child {
 public:
  explicit Child(const std::function<bool()>& work) {
    int report[2], hold[2];
    if (::pipe(report) != 0 || ::pipe(hold) != 0) std::abort();
    char ok = 0;
    if ((pid_ = ::fork()) == 0) {
      ::close(report[0]), ::close(hold[1]);
      try { ok = work(); } catch (...) {}  // a throw reports failure
      (void)!::write(report[1], &ok, 1);
      (void)!::read(hold[0], &ok, 1);  // returns when the parent closes its end
      ::_exit(0);
    }
    ::close(report[1]), ::close(hold[0]);
    succeeded_ = ::read(report[0], &ok, 1) == 1 && ok;
    ::close(report[0]), hold_ = hold[1];
  }
  ~Child() { Kill(); }
  bool succeeded() const { return succeeded_; }
  void Kill() {
    if (hold_ >= 0) ::close(std::exchange(hold_, -1)), ::waitpid(pid_, nullptr, 0);
  }

 private:
  pid_t pid_ = -1;
  int hold_ = -1;
  bool succeeded_ = false;
};

class ProductStoreTest : public testing::Test {
 protected:
  void SetUp() override {
    home_ = msi_test::FreshTemporaryFolder("product_store_");
    drive_ = home_ / "drive";
    ::setenv("INSTALLER_VESK_HOME", home_.c_str(), 1);
  }
  void TearDown() override { fs::remove_all(home_); }
  // Opens the store; in a test that forks, only after the children that use it.
  std::shared_ptr<ProductStore> Store() {
    std::shared_ptr<ProductStore> store = ProductStore::ForCurrentHome();
    if (!store) throw std::runtime_error("no store");
    return store;
  }
  bool BackupsEmpty() const { return fs::is_empty(home_ / "backup"); }
  // ExistingTree as it was before HalfInstall, with nothing left in the backups.
  void ExpectRolledBack() const {
    EXPECT_FALSE(fs::exists(drive_ / "app"));
    EXPECT_EQ(Read(drive_ / "old/old.txt"), "old");
    EXPECT_TRUE(fs::is_directory(drive_ / "old/empty"));
    EXPECT_TRUE(BackupsEmpty());
  }
  fs::path home_, drive_;
};

TEST_F(ProductStoreTest, RegistrationRoundTripsAndAnswersQueries) {
  auto store = Store();
  const std::wstring name = L"Prod\u00fcct \u88fd\u54c1 \U0001F600";
  store->Commit({Product(Lower(kProductA), Lower(kUpgrade), name)}, {});
  // Codes come back upper case.
  EXPECT_TRUE(store->Load(Lower(kProductA)) == Product(kProductA, kUpgrade, name));
  InstalledFeature feature;
  ASSERT_TRUE(store->FeatureAt(kProductA, 1, feature));
  EXPECT_EQ(feature.name, L"Docs");
  EXPECT_FALSE(store->FeatureAt(kProductA, 2, feature));
  EXPECT_EQ(store->FeatureState(kProductA, L"Docs"), 2);
  EXPECT_EQ(store->FeatureState(kProductA, L"docs"), -1);  // feature names are exact
  InstalledComponent component;
  ASSERT_TRUE(store->Component(kProductA, Lower(kSharedComponent), component));
  EXPECT_EQ(component.key_path, L"/drive/app/app.exe");
  std::wstring value = L"untouched";
  EXPECT_EQ(store->GetInfo(kProductA, L"versionstring", value), ERROR_UNKNOWN_PROPERTY);  // names are exact
  EXPECT_EQ(value, L"untouched");
  EXPECT_EQ(store->GetInfo(Lower(kProductA), L"InstalledProductName", value), ERROR_SUCCESS);
  EXPECT_EQ(value, name);
  EXPECT_FALSE(store->Load(kProductB));
}

TEST_F(ProductStoreTest, EnumeratesInRegistrationOrderAndReRegistrationReplaces) {
  auto store = Store();
  for (const auto& [code, upgrade] : {std::pair{kProductC, kUpgrade}, {kProductA, L""}, {kProductB, kUpgrade}}) {
    store->Commit({Product(code, upgrade, L"x")}, {});
  }
  const auto products = [&] {
    std::vector<std::wstring> codes;
    for (std::wstring code; store->ProductAt(codes.size(), code);) codes.push_back(code);
    return codes;
  };
  const auto related = [&](const std::wstring& upgrade) {
    std::vector<std::wstring> codes;
    for (std::wstring code; store->RelatedProductAt(upgrade, codes.size(), code);) codes.push_back(code);
    return codes;
  };
  EXPECT_EQ(products(), (std::vector{kProductC, kProductA, kProductB}));
  EXPECT_EQ(related(Lower(kUpgrade)), (std::vector{kProductC, kProductB}));
  EXPECT_TRUE(related(L"").empty());
  EXPECT_EQ(store->ProductsOfComponent(kSharedComponent), (std::vector{kProductC, kProductA, kProductB}));
  // C registered again with new lists keeps its place; A goes in the same commit.
  ProductRegistration again = Product(kProductC, L"", L"y");
  again.info.erase(L"VersionString");
  again.features = {{L"Other", L"", 3}};
  again.components = {{L"{0THER000-0000-0000-0000-000000000000}", L"", 3}};
  store->Commit({again}, {kProductA});
  EXPECT_EQ(products(), (std::vector{kProductC, kProductB}));
  EXPECT_EQ(related(kUpgrade), (std::vector{kProductB}));
  EXPECT_EQ(store->ProductsOfComponent(kSharedComponent), (std::vector{kProductB}));
  EXPECT_EQ(store->Load(kProductC)->features, again.features);
  std::wstring value;
  EXPECT_EQ(store->GetInfo(kProductC, L"VersionString", value), ERROR_UNKNOWN_PROPERTY);
  EXPECT_EQ(store->FeatureState(kProductC, L"Main"), -1);
}

TEST_F(ProductStoreTest, LockExcludesOtherHoldersInThisAndOtherProcesses) {
  auto store = Store();
  const auto child_gets_lock = [&] { return Child([&] { return store->TryLock() != nullptr; }).succeeded(); };
  {
    auto lock = store->TryLock();
    ASSERT_TRUE(lock);
    EXPECT_FALSE(store->TryLock());
    EXPECT_FALSE(child_gets_lock());
  }
  EXPECT_TRUE(child_gets_lock());
  EXPECT_TRUE(store->TryLock());
}

// An install's journal over ExistingTree: app/ and app/a.txt created, old/old.txt and old/empty/
// moved aside, old.txt written anew, kept/ created but given a file the journal does not know.
void HalfInstall(ProductStore& store, const fs::path& drive) {
  store.BeginOperation(OperationKind::kInstall, kProductA);
  store.Record({{Kind::kCreatedFolder, (drive / "app").wstring(), L""},
                {Kind::kCreatedFile, (drive / "app/a.txt").wstring(), L""},
                {Kind::kCreatedFolder, (drive / "kept").wstring(), L""}});
  fs::create_directories(drive / "app");
  fs::create_directories(drive / "kept");
  Write(drive / "app/a.txt", "a");
  Write(drive / "kept/user.txt", "user");
  store.MoveAside(drive / "old/old.txt");
  store.MoveAside(drive / "old/empty");
  store.Record({{Kind::kCreatedFile, (drive / "old/old.txt").wstring(), L""}});
  Write(drive / "old/old.txt", "new");
}

void ExistingTree(const fs::path& drive) {
  fs::create_directories(drive / "old/empty");
  Write(drive / "old/old.txt", "old");
}

TEST_F(ProductStoreTest, RollBackUndoesTheJournalAndCanRunAgainAfterAFailure) {
  auto store = Store();
  auto lock = store->TryLock();
  ExistingTree(drive_);
  HalfInstall(*store, drive_);
  // Unjournaled changes: old/ deleted, app/a.txt made a folder, where the first roll back stops.
  fs::remove_all(drive_ / "old");
  fs::remove(drive_ / "app/a.txt");
  fs::create_directories(drive_ / "app/a.txt/inner");
  EXPECT_THROW(store->RollBack(), StoreError);
  EXPECT_EQ(Read(drive_ / "old/old.txt"), "old");  // the newer steps are done
  fs::remove_all(drive_ / "app/a.txt");
  store->RollBack();  // only what is left runs: old.txt is not deleted again
  ExpectRolledBack();
  EXPECT_EQ(Read(drive_ / "kept/user.txt"), "user");
  store->RollBack();  // the journal is empty: nothing more happens
  EXPECT_EQ(Read(drive_ / "old/old.txt"), "old");
  EXPECT_FALSE(store->IsRegistered(kProductA));
}

TEST_F(ProductStoreTest, MoveAsideAcrossFileSystemsCopies) {
  std::string folder = "/dev/shm/product_store_XXXXXX";
  struct stat shm {}, home {};
  if (::stat("/dev/shm", &shm) != 0 || ::stat(home_.c_str(), &home) != 0 || shm.st_dev == home.st_dev) {
    GTEST_SKIP() << "needs /dev/shm on another file system than the state folder";
  }
  ASSERT_NE(::mkdtemp(folder.data()), nullptr);
  const fs::path other = folder;
  Write(other / "file.txt", "original");
  fs::create_directory(other / "empty");
  {
    auto store = Store();
    auto lock = store->TryLock();
    store->BeginOperation(OperationKind::kInstall, kProductA);
    EXPECT_EQ(Read(store->MoveAside(other / "file.txt")), "original");
    store->MoveAside(other / "empty");
    EXPECT_TRUE(fs::is_empty(other));
    store->RollBack();
  }
  EXPECT_EQ(Read(other / "file.txt"), "original");
  EXPECT_TRUE(fs::is_directory(other / "empty"));
  EXPECT_EQ(std::distance(fs::directory_iterator(other), {}), 2);
  EXPECT_TRUE(BackupsEmpty());
  fs::remove_all(other);
}

TEST_F(ProductStoreTest, KilledInstallIsRolledBackOnceItsLockIsFree) {
  ExistingTree(drive_);
  Child child([&] {
    auto store = Store();
    if (!store->TryLock().release()) return false;  // held until the process dies
    HalfInstall(*store, drive_);
    return true;
  });
  ASSERT_TRUE(child.succeeded());
  Store();  // the operation is still running: left alone
  EXPECT_EQ(Read(drive_ / "old/old.txt"), "new");
  EXPECT_TRUE(fs::exists(drive_ / "app/a.txt"));
  child.Kill();
  auto store = Store();  // opening it rolls the dead install back
  ExpectRolledBack();
  EXPECT_FALSE(store->IsRegistered(kProductA));
  // The journal is clear: a file at a once-journaled path is not touched again.
  fs::create_directory(drive_ / "app");
  Store();
  EXPECT_TRUE(fs::exists(drive_ / "app"));
}

TEST_F(ProductStoreTest, KilledRemovalIsCompleted) {
  const fs::path app = drive_ / "app", shared = drive_ / "shared.dll";
  Child child([&] {
    auto store = Store();
    fs::create_directories(app / "sub");
    for (const fs::path& file : {app / "1.txt", app / "sub/2.txt", shared}) Write(file, "x");
    ProductRegistration a = Product(kProductA, L"", L"A"), b = Product(kProductB, L"", L"B");
    a.files = {(app / "1.txt").wstring(), (app / "sub/2.txt").wstring(), shared.wstring()};
    a.folders = {app.wstring(), (app / "sub").wstring()};
    b.files = {shared.wstring()};
    b.folders = {};
    store->Commit({a, b}, {});
    if (!store->TryLock().release()) return false;  // held until the process dies
    store->BeginOperation(OperationKind::kRemove, kProductA);
    store->MoveAside(app / "1.txt");
    return true;
  });
  ASSERT_TRUE(child.succeeded());
  child.Kill();
  auto store = Store();
  EXPECT_FALSE(fs::exists(app));
  EXPECT_TRUE(fs::exists(shared));  // product B still has it
  EXPECT_TRUE(BackupsEmpty());
  EXPECT_FALSE(store->IsRegistered(kProductA));
  EXPECT_TRUE(store->IsRegistered(kProductB));
}

}  // namespace
}  // namespace linux_msi
