#include "store/product_store.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <system_error>
#include <unordered_map>
#include <utility>

#include "ovra/strings.h"
#include "state_folder.h"

namespace linux_msi {
namespace fs = std::filesystem;

namespace {

// Long enough for another process's whole commit, short enough that a stuck
// peer shows up as an error rather than a hang.
constexpr int kBusyTimeoutMs = 5000;

// Every query below is a lookup in a primary key or an index (checked with
// EXPLAIN QUERY PLAN); child rows keep their list order in `position`.
constexpr const char kSchema[] = R"sql(
CREATE TABLE IF NOT EXISTS products(
  code TEXT PRIMARY KEY NOT NULL, upgrade_code TEXT NOT NULL, seq INTEGER NOT NULL UNIQUE) WITHOUT ROWID;
CREATE INDEX IF NOT EXISTS products_by_upgrade_code ON products(upgrade_code, seq);
CREATE TABLE IF NOT EXISTS product_info(
  product TEXT NOT NULL, name TEXT NOT NULL, value TEXT NOT NULL, PRIMARY KEY(product, name)) WITHOUT ROWID;
CREATE TABLE IF NOT EXISTS features(
  product TEXT NOT NULL, position INTEGER NOT NULL, name TEXT NOT NULL, parent TEXT NOT NULL,
  state INTEGER NOT NULL, PRIMARY KEY(product, position)) WITHOUT ROWID;
CREATE INDEX IF NOT EXISTS features_by_name ON features(product, name);
CREATE TABLE IF NOT EXISTS components(
  product TEXT NOT NULL, position INTEGER NOT NULL, component_id TEXT NOT NULL, key_path TEXT NOT NULL,
  state INTEGER NOT NULL, PRIMARY KEY(product, position)) WITHOUT ROWID;
CREATE INDEX IF NOT EXISTS components_by_id ON components(component_id, product);
CREATE INDEX IF NOT EXISTS components_of_product ON components(product, component_id);
CREATE TABLE IF NOT EXISTS files(
  product TEXT NOT NULL, position INTEGER NOT NULL, path TEXT NOT NULL, PRIMARY KEY(product, position)) WITHOUT ROWID;
CREATE INDEX IF NOT EXISTS files_by_path ON files(path, product);
CREATE TABLE IF NOT EXISTS folders(
  product TEXT NOT NULL, position INTEGER NOT NULL, path TEXT NOT NULL, PRIMARY KEY(product, position)) WITHOUT ROWID;
CREATE TABLE IF NOT EXISTS registry_values(
  product TEXT NOT NULL, position INTEGER NOT NULL, root INTEGER NOT NULL, key TEXT NOT NULL,
  name TEXT NOT NULL, value TEXT NOT NULL, PRIMARY KEY(product, position)) WITHOUT ROWID;
CREATE TABLE IF NOT EXISTS operation(
  id INTEGER PRIMARY KEY CHECK (id = 1), kind TEXT NOT NULL, product TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS journal(
  seq INTEGER PRIMARY KEY, kind TEXT NOT NULL, path TEXT NOT NULL, backup TEXT NOT NULL);
)sql";

// Product, upgrade and component codes are GUIDs: compared in upper case.
std::wstring UpperGuid(std::wstring text) {
  for (wchar_t& c : text) {
    if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
  }
  return text;
}

fs::path PathFromWide(const std::wstring& text) { return fs::path(ovra::Utf8FromWide(text)); }
std::wstring WideFromPath(const fs::path& path) { return ovra::WideFromUtf8(path.string()); }

[[noreturn]] void ThrowFileError(const std::string& what, const fs::path& path, int error = errno) {
  throw StoreError(what + " " + path.string() + ": " + std::generic_category().message(error));
}

// Journal kinds are stored by name so that the file does not depend on the enum's order.
constexpr std::pair<JournalEntry::Kind, const char*> kKindNames[] = {
    {JournalEntry::Kind::kCreatedFile, "created_file"},
    {JournalEntry::Kind::kCreatedFolder, "created_folder"},
    {JournalEntry::Kind::kMovedAside, "moved_aside"}};

const char* KindName(JournalEntry::Kind kind) {
  for (const auto& [known, name] : kKindNames) {
    if (known == kind) return name;
  }
  return "";
}

JournalEntry::Kind KindFromName(const std::wstring& name) {
  for (const auto& [kind, known] : kKindNames) {
    if (ovra::Utf8FromWide(name) == known) return kind;
  }
  throw StoreError("unknown journal entry kind " + ovra::Utf8FromWide(name));
}

const char* OperationName(OperationKind kind) { return kind == OperationKind::kInstall ? "install" : "remove"; }

// --- Files. Each step below tolerates having been done already, so that a
// roll back or recovery interrupted by a kill can simply run again.

void DeleteFile(const fs::path& path) {
  if (::unlink(path.c_str()) != 0 && errno != ENOENT && errno != ENOTDIR) ThrowFileError("cannot delete", path);
}

// A folder still holding something (or replaced by a file) stays.
void RemoveFolderIfEmpty(const fs::path& path) {
  if (::rmdir(path.c_str()) == 0) return;
  if (errno != ENOENT && errno != ENOTEMPTY && errno != EEXIST && errno != ENOTDIR) {
    ThrowFileError("cannot remove folder", path);
  }
}

// Renames a file, symbolic link or empty folder. Across file systems it copies
// to a temporary name beside `to` and renames that, so `to` never exists half
// written, and deletes `from` last.
void MoveEntry(const fs::path& from, const fs::path& to) {
  if (::rename(from.c_str(), to.c_str()) == 0) return;
  if (errno != EXDEV) ThrowFileError("cannot move " + from.string() + " to", to);
  fs::path partial = to;
  partial += ".partial";
  std::error_code error;
  fs::remove(partial, error);
  if (fs::is_directory(fs::symlink_status(from, error))) {
    fs::create_directory(partial, from, error);
  } else {
    fs::copy(from, partial, fs::copy_options::copy_symlinks | fs::copy_options::overwrite_existing, error);
  }
  if (error) throw StoreError("cannot copy " + from.string() + " to " + partial.string() + ": " + error.message());
  if (::rename(partial.c_str(), to.c_str()) != 0) ThrowFileError("cannot move " + partial.string() + " to", to);
  if (!fs::remove(from, error) && error) {
    throw StoreError("cannot delete " + from.string() + ": " + error.message());
  }
}

// Undoes a move aside: the backup goes back in place (replacing a file the
// operation wrote there); nothing to do once the backup is gone.
void PutBack(const fs::path& path, const fs::path& backup) {
  struct stat backup_status {};
  if (::lstat(backup.c_str(), &backup_status) != 0) {
    if (errno == ENOENT) return;
    ThrowFileError("cannot read", backup);
  }
  std::error_code error;
  fs::create_directories(path.parent_path(), error);
  if (error) throw StoreError("cannot create " + path.parent_path().string() + ": " + error.message());
  if (S_ISDIR(backup_status.st_mode) && fs::is_directory(fs::symlink_status(path, error))) {
    RemoveFolderIfEmpty(backup);  // the folder is back already
    return;
  }
  MoveEntry(backup, path);
}

void Undo(const JournalEntry& entry) {
  const fs::path path = PathFromWide(entry.path);
  switch (entry.kind) {
    case JournalEntry::Kind::kCreatedFile:
      return DeleteFile(path);
    case JournalEntry::Kind::kCreatedFolder:
      return RemoveFolderIfEmpty(path);
    case JournalEntry::Kind::kMovedAside:
      return PutBack(path, PathFromWide(entry.backup));
  }
}

// --- SQLite

struct DatabaseCloser {
  void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
struct StatementFinalizer {
  void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};
using StatementPtr = std::unique_ptr<sqlite3_stmt, StatementFinalizer>;

[[noreturn]] void ThrowSqlite(sqlite3* db, const std::string& what) {
  throw StoreError("registry.db: " + what + ": " + sqlite3_errmsg(db));
}

// One use of a cached prepared statement: parameters are bound in order; it is
// reset and unbound when it goes out of scope, ready for the next use.
class Statement {
 public:
  Statement(sqlite3* db, sqlite3_stmt* statement) : db_(db), statement_(statement) {}
  ~Statement() {
    sqlite3_reset(statement_);
    sqlite3_clear_bindings(statement_);
  }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  template <typename... Values>
  Statement& Bind(const Values&... values) {
    (BindOne(values), ...);
    return *this;
  }

  // True while there is a row to read.
  bool Step() {
    const int result = sqlite3_step(statement_);
    if (result == SQLITE_ROW) return true;
    if (result == SQLITE_DONE) return false;
    ThrowSqlite(db_, sqlite3_sql(statement_));
  }
  void Run() { Step(); }  // for statements without rows

  std::wstring Text(int column) const {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement_, column));
    if (!text) return {};
    return ovra::WideFromUtf8(std::string(text, static_cast<std::size_t>(sqlite3_column_bytes(statement_, column))));
  }
  int Int(int column) const { return sqlite3_column_int(statement_, column); }
  std::int64_t Int64(int column) const { return sqlite3_column_int64(statement_, column); }

 private:
  void BindOne(const std::wstring& text) { BindOne(ovra::Utf8FromWide(text)); }
  void BindOne(const char* text) { BindOne(std::string(text)); }
  void BindOne(const std::string& text) {
    Check(sqlite3_bind_text(statement_, ++bound_, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT));
  }
  void BindOne(std::int64_t number) { Check(sqlite3_bind_int64(statement_, ++bound_, number)); }
  void BindOne(int number) { BindOne(static_cast<std::int64_t>(number)); }
  void Check(int result) {
    if (result != SQLITE_OK) ThrowSqlite(db_, "cannot bind a parameter");
  }

  sqlite3* db_;
  sqlite3_stmt* statement_;
  int bound_ = 0;
};

// Rolled back unless committed. BEGIN IMMEDIATE takes the write lock up
// front, so a busy peer is waited for here rather than failing halfway.
class Transaction {
 public:
  explicit Transaction(sqlite3* db) : db_(db) { Exec(db_, "BEGIN IMMEDIATE"); }
  ~Transaction() {
    if (open_) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  }
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;

  void Commit() {
    Exec(db_, "COMMIT");
    open_ = false;
  }

  static void Exec(sqlite3* db, const char* sql) {
    if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK) ThrowSqlite(db, sql);
  }

 private:
  sqlite3* db_;
  bool open_ = true;
};

// An OFFSET argument: SQLite integers are signed (and a negative OFFSET means none).
std::int64_t Offset(std::size_t index) {
  return static_cast<std::int64_t>(std::min<std::size_t>(index, std::numeric_limits<std::int64_t>::max()));
}

}  // namespace

struct ProductStore::Impl {
  explicit Impl(fs::path home_folder) : home(std::move(home_folder)) {}

  const fs::path home;
  std::mutex mutex;  // guards the connection and the statement cache
  std::unique_ptr<sqlite3, DatabaseCloser> db;
  // Keyed by the address of the SQL literal; destroyed before the connection.
  std::unordered_map<const char*, StatementPtr> statements;
  std::atomic<std::uint64_t> backup_count{0};

  struct Operation {
    OperationKind kind;
    std::wstring product;
  };

  void Open() {
    const fs::path file = home / "registry.db";
    sqlite3* raw = nullptr;
    const int result = sqlite3_open_v2(file.c_str(), &raw,
                                       SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    db.reset(raw);
    if (result != SQLITE_OK) {
      throw StoreError("cannot open " + file.string() + ": " + (raw ? sqlite3_errmsg(raw) : sqlite3_errstr(result)));
    }
    sqlite3_busy_timeout(raw, kBusyTimeoutMs);
    // WAL with synchronous=NORMAL: a commit survives the death of the process
    // (not a power loss), and readers never wait for the writer.
    Transaction::Exec(raw, "PRAGMA journal_mode=WAL");
    Transaction::Exec(raw, "PRAGMA synchronous=NORMAL");
    Transaction schema(raw);
    Transaction::Exec(raw, kSchema);
    schema.Commit();
  }

  Statement Prepare(const char* sql) {
    StatementPtr& cached = statements[sql];
    if (!cached) {
      sqlite3_stmt* raw = nullptr;
      if (sqlite3_prepare_v3(db.get(), sql, -1, SQLITE_PREPARE_PERSISTENT, &raw, nullptr) != SQLITE_OK) {
        statements.erase(sql);
        ThrowSqlite(db.get(), sql);
      }
      cached.reset(raw);
    }
    return Statement(db.get(), cached.get());
  }

  // The store of `home`, its folders created; null when they or the database cannot be opened.
  static std::shared_ptr<ProductStore> OpenStore(const fs::path& home) noexcept {
    try {
      for (const char* folder : {"packages", "backup", "drive"}) fs::create_directories(home / folder);
      auto impl = std::make_unique<Impl>(home);
      impl->Open();
      return std::shared_ptr<ProductStore>(new ProductStore(std::move(impl)));
    } catch (const std::exception&) {
      return nullptr;
    }
  }

  // Runs a query under the mutex; any failure reads as `fallback`.
  template <typename Result, typename Read>
  Result Query(Result fallback, Read read) noexcept {
    try {
      std::lock_guard<std::mutex> guard(mutex);
      return read();
    } catch (...) {
      return fallback;
    }
  }

  // Runs `write` under the mutex in one transaction.
  template <typename Write>
  void WriteTransaction(Write write) {
    std::lock_guard<std::mutex> guard(mutex);
    Transaction transaction(db.get());
    write();
    transaction.Commit();
  }

  // --- Registrations (callers hold the mutex; product codes are upper case)

  bool IsRegisteredLocked(const std::wstring& product) {
    return Prepare("SELECT 1 FROM products WHERE code = ?").Bind(product).Step();
  }

  std::optional<ProductRegistration> LoadLocked(const std::wstring& product) {
    ProductRegistration registration;
    {
      Statement row = Prepare("SELECT code, upgrade_code FROM products WHERE code = ?");
      if (!row.Bind(product).Step()) return std::nullopt;
      registration.product_code = row.Text(0);
      registration.upgrade_code = row.Text(1);
    }
    const auto each_row = [&](const char* sql, auto read) {
      Statement rows = Prepare(sql);
      for (rows.Bind(product); rows.Step();) read(rows);
    };
    auto& r = registration;
    each_row("SELECT name, value FROM product_info WHERE product = ?",
             [&](Statement& row) { r.info[row.Text(0)] = row.Text(1); });
    each_row("SELECT name, parent, state FROM features WHERE product = ? ORDER BY position",
             [&](Statement& row) { r.features.push_back({row.Text(0), row.Text(1), row.Int(2)}); });
    each_row("SELECT component_id, key_path, state FROM components WHERE product = ? ORDER BY position",
             [&](Statement& row) { r.components.push_back({row.Text(0), row.Text(1), row.Int(2)}); });
    each_row("SELECT path FROM files WHERE product = ? ORDER BY position",
             [&](Statement& row) { r.files.push_back(row.Text(0)); });
    each_row("SELECT path FROM folders WHERE product = ? ORDER BY position",
             [&](Statement& row) { r.folders.push_back(row.Text(0)); });
    each_row("SELECT root, key, name, value FROM registry_values WHERE product = ? ORDER BY position",
             [&](Statement& row) { r.registry_values.push_back({row.Int(0), row.Text(1), row.Text(2), row.Text(3)}); });
    return registration;
  }

  void UnregisterLocked(const std::wstring& product) {
    static const char* const kDeletes[] = {
        "DELETE FROM products WHERE code = ?",          "DELETE FROM product_info WHERE product = ?",
        "DELETE FROM features WHERE product = ?",       "DELETE FROM components WHERE product = ?",
        "DELETE FROM files WHERE product = ?",          "DELETE FROM folders WHERE product = ?",
        "DELETE FROM registry_values WHERE product = ?"};
    for (const char* sql : kDeletes) Prepare(sql).Bind(product).Run();
  }

  void RegisterLocked(const ProductRegistration& registration) {
    const std::wstring product = UpperGuid(registration.product_code);
    if (product.empty()) throw StoreError("a product registration needs a product code");
    // A re-registered product keeps its place in the registration order.
    std::int64_t seq = 0;
    {
      Statement existing = Prepare("SELECT seq FROM products WHERE code = ?");
      if (existing.Bind(product).Step()) {
        seq = existing.Int64(0);
      } else {
        Statement next = Prepare("SELECT COALESCE(MAX(seq), 0) + 1 FROM products");
        next.Step();
        seq = next.Int64(0);
      }
    }
    UnregisterLocked(product);
    Prepare("INSERT INTO products(code, upgrade_code, seq) VALUES (?, ?, ?)")
        .Bind(product, UpperGuid(registration.upgrade_code), seq)
        .Run();
    for (const auto& [name, value] : registration.info) {
      Prepare("INSERT INTO product_info(product, name, value) VALUES (?, ?, ?)").Bind(product, name, value).Run();
    }
    // Child rows are inserted in the tables' column order.
    int position = 0;
    for (const InstalledFeature& f : registration.features) {
      Prepare("INSERT INTO features VALUES (?, ?, ?, ?, ?)").Bind(product, position++, f.name, f.parent, f.state).Run();
    }
    position = 0;
    for (const InstalledComponent& c : registration.components) {
      Prepare("INSERT INTO components VALUES (?, ?, ?, ?, ?)")
          .Bind(product, position++, UpperGuid(c.component_id), c.key_path, c.state)
          .Run();
    }
    position = 0;
    for (const std::wstring& file : registration.files) {
      Prepare("INSERT INTO files VALUES (?, ?, ?)").Bind(product, position++, file).Run();
    }
    position = 0;
    for (const std::wstring& folder : registration.folders) {
      Prepare("INSERT INTO folders VALUES (?, ?, ?)").Bind(product, position++, folder).Run();
    }
    position = 0;
    for (const RecordedRegistryValue& v : registration.registry_values) {
      Prepare("INSERT INTO registry_values VALUES (?, ?, ?, ?, ?, ?)")
          .Bind(product, position++, v.root, v.key, v.name, v.value)
          .Run();
    }
  }

  // --- Journal

  bool Unfinished() {
    std::lock_guard<std::mutex> guard(mutex);
    return Prepare("SELECT 1 FROM operation").Step();
  }

  std::optional<Operation> OperationLocked() {
    Statement row = Prepare("SELECT kind, product FROM operation");
    if (!row.Step()) return std::nullopt;
    return Operation{row.Text(0) == L"remove" ? OperationKind::kRemove : OperationKind::kInstall, row.Text(1)};
  }

  // With their sequence numbers, newest first: the order of undoing.
  std::vector<std::pair<std::int64_t, JournalEntry>> JournalLocked() {
    std::vector<std::pair<std::int64_t, JournalEntry>> entries;
    Statement rows = Prepare("SELECT seq, kind, path, backup FROM journal ORDER BY seq DESC");
    while (rows.Step()) {
      entries.push_back({rows.Int64(0), {KindFromName(rows.Text(1)), rows.Text(2), rows.Text(3)}});
    }
    return entries;
  }

  void ClearJournalLocked() {
    Prepare("DELETE FROM operation").Run();
    Prepare("DELETE FROM journal").Run();
  }

  // --- Backups. backup/ belongs to the running operation: it is emptied only
  // while the journal is empty, when nothing refers to its content.

  fs::path NewBackupPath() {
    std::error_code ignored;  // a missing folder shows when the file is moved there
    fs::create_directories(home / "backup", ignored);
    // The name stays ASCII so that it survives the journal's UTF-8 round trip.
    const std::string prefix = std::to_string(::getpid()) + "-";
    for (;;) {
      fs::path candidate = home / "backup" / (prefix + std::to_string(++backup_count));
      struct stat status {};
      if (::lstat(candidate.c_str(), &status) != 0) return candidate;
    }
  }

  void EmptyBackups() noexcept {
    std::error_code error;
    std::vector<fs::path> entries;
    for (fs::directory_iterator it(home / "backup", error), end; !error && it != end; it.increment(error)) {
      entries.push_back(it->path());
    }
    for (const fs::path& entry : entries) fs::remove_all(entry, error);
  }

  // Finishes a removal: what its registration lists and is still there goes
  // (files another product also registered stay), then the registration.
  void CompleteRemoval(const std::wstring& product) {
    std::optional<ProductRegistration> registration;
    std::vector<bool> shared;
    {
      std::lock_guard<std::mutex> guard(mutex);
      registration = LoadLocked(product);
      for (std::size_t i = 0; registration && i < registration->files.size(); ++i) {
        Statement other = Prepare("SELECT 1 FROM files WHERE path = ? AND product <> ? LIMIT 1");
        shared.push_back(other.Bind(registration->files[i], product).Step());
      }
    }
    if (registration) {
      for (std::size_t i = 0; i < registration->files.size(); ++i) {
        if (!shared[i]) DeleteFile(PathFromWide(registration->files[i]));
      }
      for (auto folder = registration->folders.rbegin(); folder != registration->folders.rend(); ++folder) {
        RemoveFolderIfEmpty(PathFromWide(*folder));
      }
      // The product's cached package goes with it.
      const auto cached = registration->info.find(L"LocalPackage");
      if (cached != registration->info.end() && PathFromWide(cached->second).parent_path() == home / "packages") {
        DeleteFile(PathFromWide(cached->second));
      }
    }
    WriteTransaction([&] {
      UnregisterLocked(product);
      ClearJournalLocked();
    });
    EmptyBackups();
  }
};

// --- Lock

OperationLock::~OperationLock() {
  if (fd_ < 0) return;
  ::flock(fd_, LOCK_UN);
  ::close(fd_);
}

std::unique_ptr<OperationLock> ProductStore::TryLock() {
  const fs::path path = impl_->home / "install.lock";
  // Owns the descriptor from the start, so every exit closes it.
  std::unique_ptr<OperationLock> lock(new OperationLock(-1));
  lock->fd_ = ::open(path.c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0644);
  if (lock->fd_ < 0) ThrowFileError("cannot open", path);
  if (::flock(lock->fd_, LOCK_EX | LOCK_NB) != 0) {
    if (errno == EWOULDBLOCK) return nullptr;
    ThrowFileError("cannot lock", path);
  }
  return lock;
}

// --- Store

ProductStore::ProductStore(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
ProductStore::~ProductStore() = default;

std::shared_ptr<ProductStore> ProductStore::ForCurrentHome() {
  const fs::path configured = linux_msi::InstallerStateFolder();
  std::error_code error;
  fs::path home = configured.empty() ? fs::path() : fs::absolute(configured, error).lexically_normal();
  if (error || home.empty()) return nullptr;
  if (!home.has_filename()) home = home.parent_path();  // "dir/" is "dir"

  // One store per folder, opened again when the folder was deleted or replaced
  // (its database is another file now) and in a forked child, which must not
  // use its parent's SQLite connection. Never destroyed: threads still running
  // at exit may use their store; a parent's stores stay unclosed in a child.
  struct Slot {
    std::shared_ptr<ProductStore> store;
    pid_t pid = 0;
    dev_t device = 0;
    ino_t inode = 0;
  };
  static std::mutex stores_mutex;
  static auto* stores = new std::map<fs::path, Slot>();
  static auto* inherited = new std::vector<std::shared_ptr<ProductStore>>();
  std::shared_ptr<ProductStore> store;
  {
    std::lock_guard<std::mutex> guard(stores_mutex);
    Slot& slot = (*stores)[home];
    struct stat database {};
    const bool present = stat((home / "registry.db").c_str(), &database) == 0;
    if (slot.store && slot.pid != getpid()) {
      inherited->push_back(std::move(slot.store));
    } else if (slot.store && (!present || database.st_dev != slot.device || database.st_ino != slot.inode)) {
      slot.store.reset();
    }
    if (!slot.store) {
      slot.store = Impl::OpenStore(home);  // tried again on the next call when it fails
      slot.pid = getpid();
      if (stat((home / "registry.db").c_str(), &database) == 0) {
        slot.device = database.st_dev;
        slot.inode = database.st_ino;
      }
    }
    store = slot.store;
  }
  if (!store) return nullptr;

  // A journal with a free lock was left by a killed process; while the lock
  // is held, its operation is still running. A failed recovery is tried again
  // on the next call (and by the next BeginOperation).
  try {
    if (store->impl_->Unfinished()) {
      if (std::unique_ptr<OperationLock> lock = store->TryLock()) store->RecoverUnfinished();
    }
  } catch (const std::exception&) {
  }
  return store;
}

const fs::path& ProductStore::home() const { return impl_->home; }
fs::path ProductStore::drive_root() const { return linux_msi::DriveRoot(impl_->home); }
fs::path ProductStore::package_cache() const { return impl_->home / "packages"; }

bool ProductStore::IsRegistered(const std::wstring& product_code) const {
  return impl_->Query(false, [&] { return impl_->IsRegisteredLocked(UpperGuid(product_code)); });
}

UINT ProductStore::GetInfo(const std::wstring& product_code, const std::wstring& name, std::wstring& value) const {
  return impl_->Query(ERROR_UNKNOWN_PRODUCT, [&] {
    const std::wstring product = UpperGuid(product_code);
    Statement row = impl_->Prepare("SELECT value FROM product_info WHERE product = ? AND name = ?");
    if (row.Bind(product, name).Step()) {
      value = row.Text(0);
      return ERROR_SUCCESS;
    }
    return impl_->IsRegisteredLocked(product) ? ERROR_UNKNOWN_PROPERTY : ERROR_UNKNOWN_PRODUCT;
  });
}

bool ProductStore::ProductAt(std::size_t index, std::wstring& product_code) const {
  return impl_->Query(false, [&] {
    Statement row = impl_->Prepare("SELECT code FROM products ORDER BY seq LIMIT 1 OFFSET ?");
    if (!row.Bind(Offset(index)).Step()) return false;
    product_code = row.Text(0);
    return true;
  });
}

bool ProductStore::RelatedProductAt(const std::wstring& upgrade_code, std::size_t index,
                                    std::wstring& product_code) const {
  return impl_->Query(false, [&] {
    // Products without an upgrade code are related to nothing.
    if (upgrade_code.empty()) return false;
    Statement row = impl_->Prepare("SELECT code FROM products WHERE upgrade_code = ? ORDER BY seq LIMIT 1 OFFSET ?");
    if (!row.Bind(UpperGuid(upgrade_code), Offset(index)).Step()) return false;
    product_code = row.Text(0);
    return true;
  });
}

std::optional<ProductRegistration> ProductStore::Load(const std::wstring& product_code) const {
  return impl_->Query(std::optional<ProductRegistration>(), [&] { return impl_->LoadLocked(UpperGuid(product_code)); });
}

bool ProductStore::FeatureAt(const std::wstring& product_code, std::size_t index, InstalledFeature& feature) const {
  return impl_->Query(false, [&] {
    Statement row = impl_->Prepare(
        "SELECT name, parent, state FROM features WHERE product = ? ORDER BY position LIMIT 1 OFFSET ?");
    if (!row.Bind(UpperGuid(product_code), Offset(index)).Step()) return false;
    feature = {row.Text(0), row.Text(1), row.Int(2)};
    return true;
  });
}

int ProductStore::FeatureState(const std::wstring& product_code, const std::wstring& feature) const {
  constexpr int kUnknown = -1;  // INSTALLSTATE_UNKNOWN
  return impl_->Query(kUnknown, [&] {
    Statement row = impl_->Prepare(
        "SELECT state FROM features INDEXED BY features_by_name WHERE product = ? AND name = ? LIMIT 1");
    return row.Bind(UpperGuid(product_code), feature).Step() ? row.Int(0) : kUnknown;
  });
}

bool ProductStore::Component(const std::wstring& product_code, const std::wstring& component_id,
                             InstalledComponent& component) const {
  return impl_->Query(false, [&] {
    Statement row = impl_->Prepare(
        "SELECT component_id, key_path, state FROM components INDEXED BY components_of_product "
        "WHERE product = ? AND component_id = ? LIMIT 1");
    if (!row.Bind(UpperGuid(product_code), UpperGuid(component_id)).Step()) return false;
    component = {row.Text(0), row.Text(1), row.Int(2)};
    return true;
  });
}

std::vector<std::wstring> ProductStore::ProductsOfComponent(const std::wstring& component_id) const {
  return impl_->Query(std::vector<std::wstring>(), [&] {
    std::vector<std::wstring> products;
    Statement rows = impl_->Prepare(
        "SELECT code FROM products WHERE code IN (SELECT product FROM components WHERE component_id = ?) "
        "ORDER BY seq");
    for (rows.Bind(UpperGuid(component_id)); rows.Step();) products.push_back(rows.Text(0));
    return products;
  });
}

void ProductStore::BeginOperation(OperationKind kind, const std::wstring& product_code) {
  // A killed operation's journal must be undone before a new one replaces it.
  if (impl_->Unfinished()) RecoverUnfinished();
  impl_->EmptyBackups();
  impl_->WriteTransaction([&] {
    impl_->ClearJournalLocked();
    impl_->Prepare("INSERT INTO operation(id, kind, product) VALUES (1, ?, ?)")
        .Bind(OperationName(kind), UpperGuid(product_code))
        .Run();
  });
}

void ProductStore::Record(const std::vector<JournalEntry>& entries) {
  impl_->WriteTransaction([&] {
    if (!impl_->Prepare("SELECT 1 FROM operation").Step()) throw StoreError("no operation has begun");
    for (const JournalEntry& entry : entries) {
      impl_->Prepare("INSERT INTO journal(kind, path, backup) VALUES (?, ?, ?)")
          .Bind(KindName(entry.kind), entry.path, entry.backup)
          .Run();
    }
  });
}

fs::path ProductStore::MoveAside(const fs::path& path) {
  std::error_code error;
  const fs::path original = fs::absolute(path, error);
  if (error) throw StoreError("cannot move aside " + path.string() + ": " + error.message());
  struct stat status {};
  if (::lstat(original.c_str(), &status) != 0) ThrowFileError("cannot move aside", path);
  if (S_ISDIR(status.st_mode) && !fs::is_empty(original, error)) {
    throw StoreError("cannot move aside " + path.string() + ": the folder is not empty");
  }
  const fs::path backup = impl_->NewBackupPath();
  // Recorded first: a kill between the two steps leaves a journal entry whose
  // backup does not exist, which a roll back skips.
  Record({{JournalEntry::Kind::kMovedAside, WideFromPath(original), WideFromPath(backup)}});
  MoveEntry(original, backup);
  return backup;
}

void ProductStore::Commit(const std::vector<ProductRegistration>& add, const std::vector<std::wstring>& remove) {
  impl_->WriteTransaction([&] {
    for (const std::wstring& product : remove) impl_->UnregisterLocked(UpperGuid(product));
    for (const ProductRegistration& registration : add) impl_->RegisterLocked(registration);
    impl_->ClearJournalLocked();
  });
  impl_->EmptyBackups();
}

void ProductStore::RollBack() {
  std::vector<std::pair<std::int64_t, JournalEntry>> entries;
  {
    std::lock_guard<std::mutex> guard(impl_->mutex);
    entries = impl_->JournalLocked();
  }
  for (const auto& [seq, entry] : entries) {
    // Stops at the first failure: running a newer step after an older one
    // could undo the older one's work (delete an original just put back).
    try {
      Undo(entry);
    } catch (const std::exception& error) {
      throw StoreError(std::string("roll back stopped, the rest stays in the journal: ") + error.what());
    }
    // For the same reason a step leaves the journal once done; a kill before
    // that only makes it run again, which each step tolerates.
    std::lock_guard<std::mutex> guard(impl_->mutex);
    impl_->Prepare("DELETE FROM journal WHERE seq = ?").Bind(seq).Run();
  }
  impl_->WriteTransaction([&] { impl_->ClearJournalLocked(); });
  impl_->EmptyBackups();
}

void ProductStore::RecoverUnfinished() {
  std::optional<Impl::Operation> operation;
  {
    std::lock_guard<std::mutex> guard(impl_->mutex);
    operation = impl_->OperationLocked();
  }
  if (!operation) return;
  if (operation->kind == OperationKind::kInstall) {
    RollBack();
  } else {
    impl_->CompleteRemoval(operation->product);
  }
}

}  // namespace linux_msi
