// An open package: its tables, its properties, the feature and component
// states that costing decides, the resolved folders, and the actions that run
// on them. Behind an install handle (MsiOpenPackageW) a session runs single
// actions; inside an installation (MsiInstallProductW) it walks the execute
// sequence, and every write goes through the state folder's journal so that a
// failure, a cancel or a killed process leaves nothing behind.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "engine/condition.h"
#include "engine/format.h"
#include "engine/messages.h"
#include "engine/package_tables.h"
#include "store/product_store.h"

namespace linux_msi {

class Session : public ConditionContext, public FormatContext {
 public:
  // Opens the package at `path`: ERROR_SUCCESS, ERROR_FILE_NOT_FOUND,
  // ERROR_INSTALL_PACKAGE_INVALID, or ERROR_INSTALL_FAILURE when the state
  // folder cannot be opened.
  static UINT Open(const std::wstring& path, std::shared_ptr<Session>& session);
  ~Session() override;

  // Calls from several threads on one install handle take turns.
  std::recursive_mutex& mutex() { return mutex_; }
  const std::string& package_path() const { return package_path_; }

  // An empty value removes the property.
  void SetProperty(const std::wstring& name, const std::wstring& value);
  // Sets the properties of a command line (NAME=value NAME="a b" ...); false
  // when it is malformed.
  bool ApplyCommandLine(const std::wstring& command_line);
  // MsiDoActionW: one action outside the sequence.
  UINT DoAction(const std::wstring& action);
  // MsiGetTargetPathW: ERROR_DIRECTORY before costing or for an unknown folder.
  UINT GetTargetPath(const std::wstring& folder, std::wstring& path) const;
  // MsiGetFeatureStateW.
  UINT GetFeatureState(const std::wstring& feature, int& installed, int& action) const;

  // The whole installation (or removal) of MsiInstallProductW, under the
  // state folder's lock; returns its result code.
  UINT Install();

  // ConditionContext and FormatContext.
  std::wstring Property(const std::wstring& name) const override;
  std::wstring Environment(const std::wstring& name) const override;
  int ComponentInstalledState(const std::wstring& name) const override;
  int ComponentActionState(const std::wstring& name) const override;
  int FeatureInstalledState(const std::wstring& name) const override;
  int FeatureActionState(const std::wstring& name) const override;
  std::wstring FilePath(const std::wstring& file_key) const override;
  std::wstring ComponentDirectory(const std::wstring& component) const override;
  bool RecordField(unsigned index, std::wstring& text) const override { return false; }

  std::wstring Format(const std::wstring& text) const { return FormatText(text, *this); }

 private:
  struct FeatureState {
    int level = 0;
    int installed = -1;  // INSTALLSTATE_*
    int action = -1;
  };
  struct ComponentState {
    int installed = -1;
    int action = -1;
  };
  // The writes of one installation, carried out through the journal.
  struct Transaction {
    std::unique_ptr<OperationLock> lock;
    bool removing = false;                      // REMOVE=ALL of an installed product
    std::vector<std::wstring> removed_products;  // unregistered at commit (upgrades)
    std::set<std::wstring> written;              // files this installation wrote
    std::vector<std::wstring> created_folders;
    std::vector<std::wstring> removed_files;  // of the installed product itself
    std::vector<RecordedRegistryValue> registry_values;
    long long progress_total = 0;
  };
  using ActionFunction = UINT (Session::*)();
  struct StandardAction {
    const wchar_t* description;
    ActionFunction run;
    bool writes;  // only inside an installation
  };

  Session(std::string package_path, PackageTables tables, std::shared_ptr<ProductStore> store);
  static const std::map<std::wstring, StandardAction>& StandardActions();

  void SetBuiltInProperties(const std::wstring& path);
  UINT RunAction(const std::wstring& action);
  UINT RunCustomAction(const PackageTables::CustomAction& action);
  UINT WalkSequence();
  int Progress(const std::wstring& fields);
  void Error(const std::wstring& text);
  UINT Commit();
  ProductRegistration BuildRegistration() const;
  std::wstring RegistryKeyPath(const std::wstring& registry_key) const;
  std::wstring InstalledComponentFolder(const PackageTables::Component& component) const;
  std::wstring ProductCode() const { return Property(L"ProductCode"); }

  // Costing.
  void ResolveDirectories();
  void SelectFeatures();
  std::wstring DirectoryPath(const std::wstring& key) const;
  const PackageTables::File* FindFile(const std::wstring& key) const;
  const PackageTables::Component* FindComponent(const std::wstring& key) const;

  // Standard actions (actions.cpp).
  UINT NoOp();
  UINT CostInitialize();
  UINT CostFinalize();
  UINT InstallValidate();
  UINT LaunchConditions();
  UINT FindRelatedProducts();
  UINT RemoveExistingProducts();
  UINT ProcessComponents();
  UINT RemoveFiles();
  UINT InstallFiles();
  UINT CreateFolders();
  UINT WriteRegistryValues();

  // File-system steps, each journaled first.
  void EnsureFolder(const std::wstring& folder);
  void RemoveInstalledFile(const std::wstring& path);

  mutable std::recursive_mutex mutex_;
  const std::string package_path_;
  const PackageTables tables_;
  std::shared_ptr<ProductStore> store_;
  MessageChannel channel_;
  std::map<std::wstring, std::wstring> properties_;
  std::map<std::wstring, FeatureState> features_;
  std::map<std::wstring, ComponentState> components_;
  std::map<std::wstring, std::wstring> directories_;  // resolved paths, with a trailing "/"
  std::set<std::wstring> fixed_directories_;          // set by property, not derived from a parent
  std::optional<ProductRegistration> installed_;       // this product's registration, when installed
  bool costed_ = false;
  std::unique_ptr<Transaction> transaction_;
};

}  // namespace linux_msi
