// The engine's state folder: the registry of installed products (SQLite, WAL),
// the cached packages, the drive root of the standard folders, the lock that
// allows one install or removal at a time, and the journal that makes a killed
// operation leave nothing half done.
//
// Folder layout ($INSTALLER_VESK_HOME, default ~/.local/share/installer_vesk):
//   registry.db      products, their info, features, components, written files,
//                    folders and registry values; the journal
//   install.lock     held (flock) by the running install or removal
//   packages/        cached copies of installed packages (LocalPackage)
//   backup/          files moved aside by a running operation
//   drive/           root of the standard folders (Program Files, ...)
#pragma once

#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "windows_types.h"

namespace linux_msi {

struct InstalledFeature {
  std::wstring name;
  std::wstring parent;  // empty for a top-level feature
  int state = 0;        // INSTALLSTATE_LOCAL, _SOURCE, _ADVERTISED or _ABSENT
};

struct InstalledComponent {
  std::wstring component_id;  // the Component table's GUID, in braces
  std::wstring key_path;      // full path of the key file or folder; empty when none
  int state = 0;              // INSTALLSTATE_LOCAL or _ABSENT
};

struct RecordedRegistryValue {
  int root = 0;  // the Registry table's Root
  std::wstring key;
  std::wstring name;
  std::wstring value;
};

// Everything recorded about one installed product.
struct ProductRegistration {
  std::wstring product_code;  // GUID in braces, upper case
  std::wstring upgrade_code;  // empty when the package has none
  // INSTALLPROPERTY_* name to value: PackageCode, VersionString, Version,
  // InstalledProductName, Publisher, InstallLocation, InstallDate, Language,
  // LocalPackage, ...
  std::map<std::wstring, std::wstring> info;
  std::vector<InstalledFeature> features;  // in Feature table order
  std::vector<InstalledComponent> components;
  std::vector<std::wstring> files;    // full paths this product's installs wrote
  std::vector<std::wstring> folders;  // folders they created, parents first
  std::vector<RecordedRegistryValue> registry_values;
};

// One step of a running operation, recorded before it is carried out.
struct JournalEntry {
  enum class Kind { kCreatedFile, kCreatedFolder, kMovedAside };
  Kind kind = Kind::kCreatedFile;
  std::wstring path;    // the file or folder
  std::wstring backup;  // kMovedAside: where the original now is
};

enum class OperationKind { kInstall, kRemove };

// Failure of the store itself (the database cannot be opened or written, the
// disk is full): the operation that meets it fails with ERROR_INSTALL_FAILURE.
class StoreError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class ProductStore;

// Held for the whole of one install or removal; released by its destructor.
class OperationLock {
 public:
  ~OperationLock();
  OperationLock(const OperationLock&) = delete;
  OperationLock& operator=(const OperationLock&) = delete;

 private:
  friend class ProductStore;
  explicit OperationLock(int fd) : fd_(fd) {}
  int fd_;
};

class ProductStore {
 public:
  // The store of the current state folder, created (with its subfolders) on
  // first use and shared by every caller in the process; a change of
  // INSTALLER_VESK_HOME between calls selects the new folder. Before it
  // returns, an unfinished operation left by a killed process is recovered
  // (see RecoverUnfinished) when the lock is free. Null when the folder or
  // its database cannot be opened.
  static std::shared_ptr<ProductStore> ForCurrentHome();

  ~ProductStore();
  ProductStore(const ProductStore&) = delete;
  ProductStore& operator=(const ProductStore&) = delete;

  const std::filesystem::path& home() const;
  std::filesystem::path drive_root() const;     // home/drive
  std::filesystem::path package_cache() const;  // home/packages

  // --- Queries: thread-safe, indexed, never throw (a database failure reads
  // as "not found").
  bool IsRegistered(const std::wstring& product_code) const;
  // ERROR_SUCCESS, ERROR_UNKNOWN_PRODUCT or ERROR_UNKNOWN_PROPERTY.
  UINT GetInfo(const std::wstring& product_code, const std::wstring& name, std::wstring& value) const;
  // The product registered index-th (0-based, in registration order).
  bool ProductAt(std::size_t index, std::wstring& product_code) const;
  bool RelatedProductAt(const std::wstring& upgrade_code, std::size_t index, std::wstring& product_code) const;
  std::optional<ProductRegistration> Load(const std::wstring& product_code) const;
  bool FeatureAt(const std::wstring& product_code, std::size_t index, InstalledFeature& feature) const;
  // INSTALLSTATE_UNKNOWN (-1) when the product or feature is not registered.
  int FeatureState(const std::wstring& product_code, const std::wstring& feature) const;
  bool Component(const std::wstring& product_code, const std::wstring& component_id,
                 InstalledComponent& component) const;
  // Products that registered a component, in registration order.
  std::vector<std::wstring> ProductsOfComponent(const std::wstring& component_id) const;

  // --- Operations. One at a time per state folder, across processes.
  // Null when another install or removal holds the lock (ERROR_INSTALL_ALREADY_RUNNING),
  // also one of this process: each call opens the lock file anew. Throws
  // StoreError when the lock file cannot be opened.
  std::unique_ptr<OperationLock> TryLock();

  // The calls below need the lock held and throw StoreError on failure.
  // Starts the journal of an operation on one product. An unfinished
  // operation still in the journal is recovered first.
  void BeginOperation(OperationKind kind, const std::wstring& product_code);
  // Records steps about to be carried out, in one transaction.
  void Record(const std::vector<JournalEntry>& entries);
  // Records and then moves a file or an empty folder into backup/, so that a
  // roll back can put it back; returns the backup path.
  std::filesystem::path MoveAside(const std::filesystem::path& path);
  // Ends the operation: unregisters `remove`, registers `add` (replacing an
  // earlier registration of the same product, which keeps its place in the
  // registration order), and clears the journal, in one transaction; then
  // deletes what was moved aside.
  void Commit(const std::vector<ProductRegistration>& add, const std::vector<std::wstring>& remove);
  // Ends the operation by undoing its journal in reverse: created files and
  // (empty) folders are deleted, moved-aside files put back; then clears it.
  // Each step leaves the journal once done, so an interrupted roll back can
  // run again. A failing step stops it (and throws): it and the older steps
  // stay in the journal for the next attempt.
  void RollBack();
  // An operation left unfinished: an install is rolled back; a removal is
  // completed (the files and empty folders its registration lists deleted,
  // except files another product registered too; its moved-aside files
  // deleted; the product unregistered). Needs the lock; a no-op when there is none.
  void RecoverUnfinished();

 private:
  struct Impl;
  explicit ProductStore(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

}  // namespace linux_msi
