// The execute sequence, the standard actions and the custom actions the engine
// can run, and the installation's transaction.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>

#include "engine/cabinet.h"
#include "ovra/strings.h"
#include "engine/session.h"
#include "engine/text.h"

namespace linux_msi {
namespace {

namespace fs = std::filesystem;

// Progress ticks of the steps that have no size of their own.
constexpr long long kTicksPerComponent = 24000;
constexpr long long kTicksPerRemovedFile = 4096;
constexpr long long kTicksPerRegistryValue = 4096;

// Custom action types (the low six bits of Type) that run here.
constexpr int kErrorMessage = 19;
constexpr int kSetDirectory = 35;
constexpr int kSetProperty = 51;
constexpr int kContinueOnFailure = 0x40;
constexpr int kInScript = 0x400;

constexpr int kUpgradeOnlyDetect = 0x2;
constexpr int kUpgradeMinInclusive = 0x100;
constexpr int kUpgradeMaxInclusive = 0x200;

int ReturnValue(UINT result) {
  switch (result) {
    case ERROR_SUCCESS:
    case ERROR_SUCCESS_REBOOT_REQUIRED:
      return 1;
    case ERROR_INSTALL_USEREXIT:
      return 2;
    case ERROR_FUNCTION_NOT_CALLED:
      return 0;
    default:
      return 3;
  }
}

std::wstring Wide(const fs::path& path) { return ovra::WideFromUtf8(path.string()); }
fs::path Path(const std::wstring& path) { return fs::path(ovra::Utf8FromWide(path)); }

bool InRange(const std::wstring& version, const PackageTables::Upgrade& row) {
  const auto v = VersionFields(version);
  if (!row.version_min.empty()) {
    const auto min = VersionFields(row.version_min);
    if (v < min || (v == min && !(row.attributes & kUpgradeMinInclusive))) {
      return false;
    }
  }
  if (!row.version_max.empty()) {
    const auto max = VersionFields(row.version_max);
    if (max < v || (v == max && !(row.attributes & kUpgradeMaxInclusive))) {
      return false;
    }
  }
  return true;
}

std::vector<std::wstring> SplitCodes(const std::wstring& list) {
  std::vector<std::wstring> codes;
  std::size_t start = 0;
  while (start < list.size()) {
    const std::size_t end = std::min(list.find(L';', start), list.size());
    if (end > start) {
      codes.push_back(list.substr(start, end - start));
    }
    start = end + 1;
  }
  return codes;
}

}  // namespace

const std::map<std::wstring, Session::StandardAction>& Session::StandardActions() {
  static const std::map<std::wstring, StandardAction> actions = {
      {L"AppSearch", {L"Searching for installed applications", &Session::NoOp, false}},
      {L"CCPSearch", {L"Searching for qualifying products", &Session::NoOp, false}},
      {L"CostInitialize", {L"Computing space requirements", &Session::CostInitialize, false}},
      {L"FileCost", {L"Computing space requirements", &Session::NoOp, false}},
      {L"CostFinalize", {L"Computing space requirements", &Session::CostFinalize, false}},
      {L"FindRelatedProducts", {L"Searching for related applications", &Session::FindRelatedProducts, false}},
      {L"LaunchConditions", {L"Evaluating launch conditions", &Session::LaunchConditions, false}},
      {L"MigrateFeatureStates", {L"Migrating feature states from related applications", &Session::NoOp, false}},
      {L"ValidateProductID", {L"", &Session::NoOp, false}},
      {L"InstallValidate", {L"Validating install", &Session::InstallValidate, false}},
      {L"InstallInitialize", {L"", &Session::NoOp, true}},
      {L"RemoveExistingProducts", {L"Removing applications", &Session::RemoveExistingProducts, true}},
      {L"ProcessComponents", {L"Updating component registration", &Session::ProcessComponents, true}},
      {L"UnpublishFeatures", {L"Unpublishing Product Features", &Session::NoOp, true}},
      {L"RemoveRegistryValues", {L"Removing system registry values", &Session::NoOp, true}},
      {L"RemoveShortcuts", {L"Removing shortcuts", &Session::NoOp, true}},
      {L"RemoveFiles", {L"Removing files", &Session::RemoveFiles, true}},
      {L"RemoveFolders", {L"Removing folders", &Session::NoOp, true}},
      {L"CreateFolders", {L"Creating folders", &Session::CreateFolders, true}},
      {L"InstallFiles", {L"Copying new files", &Session::InstallFiles, true}},
      {L"CreateShortcuts", {L"Creating shortcuts", &Session::NoOp, true}},
      {L"WriteRegistryValues", {L"Writing system registry values", &Session::WriteRegistryValues, true}},
      {L"RegisterUser", {L"Registering user", &Session::NoOp, true}},
      {L"RegisterProduct", {L"Registering product", &Session::NoOp, true}},
      {L"PublishFeatures", {L"Publishing Product Features", &Session::NoOp, true}},
      {L"PublishProduct", {L"Publishing product information", &Session::NoOp, true}},
      {L"InstallFinalize", {L"", &Session::NoOp, true}},
  };
  return actions;
}

// --- Running actions ---

UINT Session::DoAction(const std::wstring& action) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  return RunAction(action);
}

int Session::Progress(const std::wstring& fields) { return channel_.Send(INSTALLMESSAGE_PROGRESS, fields); }

void Session::Error(const std::wstring& text) { channel_.Send(INSTALLMESSAGE_ERROR, text); }

UINT Session::RunAction(const std::wstring& name) {
  if (channel_.cancelled()) {
    return ERROR_INSTALL_USEREXIT;
  }
  const auto standard = StandardActions().find(name);
  const auto custom = std::find_if(tables_.custom_actions.begin(), tables_.custom_actions.end(),
                                   [&](const auto& row) { return row.action == name; });
  const bool is_custom = custom != tables_.custom_actions.end();
  if (standard == StandardActions().end() && !is_custom) {
    channel_.Send(INSTALLMESSAGE_INFO, L"Action " + name + L" is neither a standard action nor a custom action of the package.");
    return ERROR_FUNCTION_NOT_CALLED;
  }
  std::wstring description;
  const auto text = tables_.action_texts.find(name);
  if (text != tables_.action_texts.end()) {
    description = text->second.description;
  } else if (!is_custom) {
    description = standard->second.description;
  }
  channel_.Send(INSTALLMESSAGE_ACTIONSTART, L"Action " + ClockText() + L": " + name + L". " + Format(description));
  channel_.Send(INSTALLMESSAGE_INFO, L"Action start " + ClockText() + L": " + name + L".");
  UINT result;
  if (channel_.cancelled()) {
    result = ERROR_INSTALL_USEREXIT;
  } else if (is_custom) {
    result = RunCustomAction(*custom);
  } else if (standard->second.writes && !transaction_) {
    channel_.Send(INSTALLMESSAGE_INFO, L"Action " + name + L" runs only inside an installation.");
    result = ERROR_INSTALL_FAILURE;
  } else {
    result = (this->*standard->second.run)();
  }
  if (result == ERROR_SUCCESS && channel_.cancelled()) {
    result = ERROR_INSTALL_USEREXIT;
  }
  channel_.Send(INSTALLMESSAGE_INFO, L"Action ended " + ClockText() + L": " + name + L". Return value " +
                                         std::to_wstring(ReturnValue(result)) + L".");
  return result;
}

UINT Session::RunCustomAction(const PackageTables::CustomAction& action) {
  if (!(action.type & kInScript)) {
    switch (action.type & 0x3F) {
      case kSetProperty:
        SetProperty(action.source, Format(action.target));
        return ERROR_SUCCESS;
      case kSetDirectory:
        SetProperty(action.source, Format(action.target));
        if (costed_) {
          fixed_directories_.insert(action.source);
          ResolveDirectories();
        }
        return ERROR_SUCCESS;
      case kErrorMessage:
        Error(Format(action.target));
        return ERROR_INSTALL_FAILURE;
    }
  }
  channel_.Send(INSTALLMESSAGE_INFO, L"Custom action " + action.action + L" of type " + std::to_wstring(action.type) +
                                         L" cannot run on this system.");
  return ERROR_INSTALL_FAILURE;
}

UINT Session::WalkSequence() {
  for (const auto& entry : tables_.execute_sequence) {
    if (!entry.condition.empty() && EvaluateCondition(entry.condition, *this) != ConditionResult::kTrue) {
      continue;
    }
    const UINT result = RunAction(entry.action);
    if (result == ERROR_SUCCESS || result == ERROR_SUCCESS_REBOOT_REQUIRED) {
      continue;
    }
    const auto custom = std::find_if(tables_.custom_actions.begin(), tables_.custom_actions.end(),
                                     [&](const auto& row) { return row.action == entry.action; });
    if (custom != tables_.custom_actions.end() && (custom->type & kContinueOnFailure) &&
        result != ERROR_INSTALL_USEREXIT) {
      continue;
    }
    return result == ERROR_INSTALL_USEREXIT ? ERROR_INSTALL_USEREXIT : ERROR_INSTALL_FAILURE;
  }
  return ERROR_SUCCESS;
}

// --- Standard actions ---

UINT Session::NoOp() { return ERROR_SUCCESS; }

UINT Session::CostInitialize() {
  costed_ = false;
  return ERROR_SUCCESS;
}

UINT Session::CostFinalize() {
  ResolveDirectories();
  SelectFeatures();
  costed_ = true;
  return ERROR_SUCCESS;
}

UINT Session::LaunchConditions() {
  for (const auto& row : tables_.launch_conditions) {
    const ConditionResult result = EvaluateCondition(row.condition, *this);
    if (result == ConditionResult::kFalse || result == ConditionResult::kError) {
      Error(Format(row.description));
      return ERROR_INSTALL_FAILURE;
    }
  }
  return ERROR_SUCCESS;
}

UINT Session::FindRelatedProducts() {
  const std::wstring self = AsciiUpper(ProductCode());
  for (const auto& row : tables_.upgrades) {
    if (row.action_property.empty()) {
      continue;
    }
    std::wstring found = Property(row.action_property);
    std::wstring code;
    for (std::size_t i = 0; store_->RelatedProductAt(AsciiUpper(row.upgrade_code), i, code); ++i) {
      std::wstring version;
      if (code == self || store_->GetInfo(code, L"VersionString", version) != ERROR_SUCCESS ||
          !InRange(version, row) || found.find(code) != std::wstring::npos) {
        continue;
      }
      found += (found.empty() ? L"" : L";") + code;
      channel_.Send(INSTALLMESSAGE_ACTIONDATA, L"Product: " + code + L".  Version: " + version);
    }
    SetProperty(row.action_property, found);
  }
  return ERROR_SUCCESS;
}

UINT Session::InstallValidate() {
  if (!costed_) {
    CostFinalize();
  }
  long long total = 0;
  for (const auto& [key, state] : components_) {
    if (state.action == INSTALLSTATE_LOCAL || state.action == INSTALLSTATE_ABSENT) {
      total += kTicksPerComponent;
    }
  }
  for (const auto& file : tables_.files) {
    const auto state = components_.find(file.component);
    if (state != components_.end() && state->second.action == INSTALLSTATE_LOCAL) {
      total += std::max(0LL, file.size);
    } else if (state != components_.end() && state->second.action == INSTALLSTATE_ABSENT) {
      total += kTicksPerRemovedFile;
    }
  }
  for (const auto& row : tables_.registry) {
    const auto state = components_.find(row.component);
    if (state != components_.end() && state->second.action == INSTALLSTATE_LOCAL) {
      total += kTicksPerRegistryValue;
    }
  }
  if (transaction_) {
    transaction_->progress_total = total;
  }
  Progress(L"1: 0 2: " + std::to_wstring(total) + L" 3: 0 4: 0 ");
  return ERROR_SUCCESS;
}

UINT Session::ProcessComponents() {
  Progress(L"1: 1 2: " + std::to_wstring(kTicksPerComponent) + L" 3: 0 ");
  for (const auto& [key, state] : components_) {
    if (state.action == INSTALLSTATE_LOCAL || state.action == INSTALLSTATE_ABSENT) {
      Progress(L"1: 2 2: " + std::to_wstring(kTicksPerComponent) + L" 3: 0 4: 0 ");
    }
  }
  return ERROR_SUCCESS;
}

void Session::EnsureFolder(const std::wstring& folder) {
  std::vector<fs::path> missing;
  for (fs::path path = Path(folder); !path.empty() && !fs::exists(path); path = path.parent_path()) {
    missing.push_back(path);
    if (path == path.parent_path()) {
      break;
    }
  }
  std::reverse(missing.begin(), missing.end());
  for (const fs::path& path : missing) {
    store_->Record({{JournalEntry::Kind::kCreatedFolder, Wide(path), {}}});
    std::error_code error;
    if (!fs::create_directory(path, error) && error) {
      throw StoreError("cannot create folder " + path.string() + ": " + error.message());
    }
    transaction_->created_folders.push_back(Wide(path));
  }
}

void Session::RemoveInstalledFile(const std::wstring& path) {
  std::error_code error;
  if (fs::is_regular_file(Path(path), error) || fs::is_symlink(Path(path), error)) {
    store_->MoveAside(Path(path));
    transaction_->removed_files.push_back(path);
  }
}

std::wstring Session::InstalledComponentFolder(const PackageTables::Component& component) const {
  if (installed_ && !component.key_path.empty() && FindFile(component.key_path)) {
    for (const auto& registered : installed_->components) {
      if (AsciiUpper(registered.component_id) == AsciiUpper(component.component_id) && !registered.key_path.empty()) {
        return Wide(Path(registered.key_path).parent_path()) + L"/";
      }
    }
  }
  return ComponentDirectory(component.key);
}

UINT Session::RemoveFiles() {
  Progress(L"1: 1 2: " + std::to_wstring(kTicksPerRemovedFile) + L" 3: 0 ");
  auto remove = [&](const std::wstring& path, const std::wstring& name, const std::wstring& directory) {
    if (transaction_->written.count(path)) {
      return;
    }
    channel_.Send(INSTALLMESSAGE_ACTIONDATA, L"File: " + name + L", Directory: " + directory);
    RemoveInstalledFile(path);
    Progress(L"1: 2 2: " + std::to_wstring(kTicksPerRemovedFile) + L" 3: 0 4: 0 ");
  };
  // The files of components that leave, where the product's registration
  // says each component is.
  for (const auto& file : tables_.files) {
    const auto state = components_.find(file.component);
    const PackageTables::Component* component = FindComponent(file.component);
    if (state == components_.end() || state->second.action != INSTALLSTATE_ABSENT || !component) {
      continue;
    }
    remove(InstalledComponentFolder(*component) + LongName(file.file_name), LongName(file.file_name),
           component->directory);
    if (channel_.cancelled()) {
      return ERROR_INSTALL_USEREXIT;
    }
  }
  if (transaction_->removing && installed_) {
    // Whatever else the product wrote, then the folders it created, deepest
    // first, when nothing else is in them.
    for (const std::wstring& path : installed_->files) {
      if (std::find(transaction_->removed_files.begin(), transaction_->removed_files.end(), path) ==
          transaction_->removed_files.end()) {
        remove(path, Wide(Path(path).filename()), Wide(Path(path).parent_path()));
      }
      if (channel_.cancelled()) {
        return ERROR_INSTALL_USEREXIT;
      }
    }
    for (auto folder = installed_->folders.rbegin(); folder != installed_->folders.rend(); ++folder) {
      std::error_code error;
      if (fs::is_directory(Path(*folder), error) && fs::is_empty(Path(*folder), error)) {
        store_->MoveAside(Path(*folder));
      }
    }
  }
  return ERROR_SUCCESS;
}

UINT Session::CreateFolders() {
  for (const auto& [key, state] : components_) {
    if (state.action == INSTALLSTATE_LOCAL) {
      const std::wstring folder = ComponentDirectory(key);
      if (!folder.empty()) {
        EnsureFolder(folder);
      }
    }
  }
  return ERROR_SUCCESS;
}

UINT Session::InstallFiles() {
  struct Planned {
    const PackageTables::File* file;
    std::wstring target;
  };
  // The files to write, grouped by the cabinet that holds them.
  std::map<std::wstring, std::vector<Planned>> by_cabinet;
  std::vector<PackageTables::Media> media = tables_.media;
  std::sort(media.begin(), media.end(), [](const auto& a, const auto& b) { return a.last_sequence < b.last_sequence; });
  for (const auto& file : tables_.files) {
    const auto state = components_.find(file.component);
    if (state == components_.end() || state->second.action != INSTALLSTATE_LOCAL) {
      continue;
    }
    const auto disk = std::find_if(media.begin(), media.end(),
                                   [&](const auto& row) { return row.last_sequence >= file.sequence; });
    if (disk == media.end() || disk->cabinet.empty()) {
      Error(L"File " + file.key + L" is not in a cabinet; uncompressed source files are not supported.");
      return ERROR_INSTALL_FAILURE;
    }
    const std::wstring target = FilePath(file.key);
    if (target.empty()) {  // the component names a folder the Directory table lacks
      Error(L"File " + file.key + L" has no target folder.");
      return ERROR_INSTALL_FAILURE;
    }
    by_cabinet[disk->cabinet].push_back({&file, target});
  }
  Progress(L"1: 1 2: 1 3: 0 ");
  for (const auto& [cabinet, files] : by_cabinet) {
    // Journal first: the folders, what the files replace, the files themselves.
    std::vector<JournalEntry> created;
    std::map<std::string, std::string> targets;
    std::map<std::string, const Planned*> planned_by_entry;
    for (const Planned& planned : files) {
      EnsureFolder(Wide(Path(planned.target).parent_path()));
      RemoveInstalledFile(planned.target);
      created.push_back({JournalEntry::Kind::kCreatedFile, planned.target, {}});
      const std::string entry = ovra::Utf8FromWide(planned.file->key);
      targets[entry] = ovra::Utf8FromWide(planned.target);
      planned_by_entry[entry] = &planned;
    }
    store_->Record(created);
    for (const Planned& planned : files) {
      transaction_->written.insert(planned.target);
    }

    fs::path source;
    fs::path extracted_stream;
    if (cabinet[0] == L'#') {
      extracted_stream = store_->home() / ("cabinet-" + std::to_string(getpid()) + ".cab");
      const UINT saved = SavePackageStream(package_path_, cabinet.substr(1), extracted_stream.string());
      if (saved != ERROR_SUCCESS) {
        Error(L"The package has no cabinet stream " + cabinet.substr(1) + L".");
        return ERROR_INSTALL_FAILURE;
      }
      source = extracted_stream;
    } else {
      source = fs::path(package_path_).parent_path() / ovra::Utf8FromWide(cabinet);
    }
    std::string problem;
    const UINT result = ExtractCabinet(source.string(), targets, [&](const std::string& entry) {
      const Planned& planned = *planned_by_entry.at(entry);
      const PackageTables::Component* component = FindComponent(planned.file->component);
      channel_.Send(INSTALLMESSAGE_ACTIONDATA, L"File: " + LongName(planned.file->file_name) + L",  Directory: " +
                                                   (component ? component->directory : L"") + L",  Size: " +
                                                   std::to_wstring(planned.file->size));
      Progress(L"1: 2 2: " + std::to_wstring(std::max(0LL, planned.file->size)) + L" 3: 0 4: 0 ");
      return !channel_.cancelled();
    }, problem);
    if (!extracted_stream.empty()) {
      std::error_code ignored;
      fs::remove(extracted_stream, ignored);
    }
    if (result == ERROR_INSTALL_FAILURE) {
      Error(L"Files could not be installed: " + ovra::WideFromUtf8(problem));
    }
    if (result != ERROR_SUCCESS) {
      return result;
    }
  }
  return ERROR_SUCCESS;
}

UINT Session::WriteRegistryValues() {
  Progress(L"1: 1 2: " + std::to_wstring(kTicksPerRegistryValue) + L" 3: 0 ");
  for (const auto& row : tables_.registry) {
    const auto state = components_.find(row.component);
    if (state == components_.end() || state->second.action != INSTALLSTATE_LOCAL) {
      continue;
    }
    RecordedRegistryValue value{row.root, Format(row.registry_key), Format(row.name), Format(row.value)};
    channel_.Send(INSTALLMESSAGE_ACTIONDATA,
                  L"Key: " + value.key + L", Name: " + value.name + L", Value: " + value.value);
    Progress(L"1: 2 2: " + std::to_wstring(kTicksPerRegistryValue) + L" 3: 0 4: 0 ");
    transaction_->registry_values.push_back(std::move(value));
  }
  return ERROR_SUCCESS;
}

UINT Session::RemoveExistingProducts() {
  for (const auto& row : tables_.upgrades) {
    if ((row.attributes & kUpgradeOnlyDetect) || row.action_property.empty()) {
      continue;
    }
    for (const std::wstring& listed : SplitCodes(Property(row.action_property))) {
      const std::wstring code = AsciiUpper(listed);
      const std::optional<ProductRegistration> old = store_->Load(code);
      if (code == AsciiUpper(ProductCode()) || !old ||
          std::find(transaction_->removed_products.begin(), transaction_->removed_products.end(), code) !=
              transaction_->removed_products.end()) {
        continue;
      }
      channel_.Send(INSTALLMESSAGE_ACTIONDATA, L"Application: " + code + L", Command line: REMOVE=ALL");
      for (const std::wstring& path : old->files) {
        if (!transaction_->written.count(path)) {
          RemoveInstalledFile(path);
        }
      }
      for (auto folder = old->folders.rbegin(); folder != old->folders.rend(); ++folder) {
        std::error_code error;
        if (fs::is_directory(Path(*folder), error) && fs::is_empty(Path(*folder), error)) {
          store_->MoveAside(Path(*folder));
        }
      }
      const auto cached = old->info.find(L"LocalPackage");
      if (cached != old->info.end()) {
        RemoveInstalledFile(cached->second);
      }
      transaction_->removed_products.push_back(code);
      if (channel_.cancelled()) {
        return ERROR_INSTALL_USEREXIT;
      }
    }
  }
  return ERROR_SUCCESS;
}

// --- The installation ---

// A registry key path as msi.dll reports it: "RR:\key\name", RR the root.
std::wstring Session::RegistryKeyPath(const std::wstring& registry_key) const {
  for (const auto& row : tables_.registry) {
    if (row.key == registry_key) {
      // Root -1 is the machine's hive for a per-machine install, else the user's.
      const int root = row.root == -1 ? (Property(L"ALLUSERS") == L"1" ? 2 : 1) : row.root;
      wchar_t prefix[8];
      std::swprintf(prefix, 8, L"%02d:\\", root);
      return prefix + Format(row.registry_key) + L"\\" + Format(row.name);
    }
  }
  return {};
}

ProductRegistration Session::BuildRegistration() const {
  ProductRegistration registration;
  registration.product_code = AsciiUpper(ProductCode());
  registration.upgrade_code = AsciiUpper(Property(L"UpgradeCode"));
  const auto version = VersionFields(Property(L"ProductVersion"));
  std::wstring install_date;
  if (installed_ && installed_->info.count(L"InstallDate")) {
    install_date = installed_->info.at(L"InstallDate");
  } else {
    char date[16];
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    std::strftime(date, sizeof date, "%Y%m%d", &local);
    install_date = ovra::WideFromUtf8(date);
  }
  auto& info = registration.info;
  info[L"PackageCode"] = tables_.package_code;
  info[L"VersionString"] = Property(L"ProductVersion");
  info[L"Version"] = std::to_wstring(((version[0] & 0xFF) << 24) | ((version[1] & 0xFF) << 16) | (version[2] & 0xFFFF));
  info[L"VersionMajor"] = std::to_wstring(version[0]);
  info[L"VersionMinor"] = std::to_wstring(version[1]);
  info[L"InstalledProductName"] = Property(L"ProductName");
  info[L"ProductName"] = Property(L"ProductName");
  info[L"Publisher"] = Property(L"Manufacturer");
  info[L"InstallLocation"] = Property(L"ARPINSTALLLOCATION");
  info[L"InstallDate"] = install_date;
  info[L"Language"] = Property(L"ProductLanguage");
  info[L"PackageName"] = Wide(fs::path(package_path_).filename());
  info[L"InstallSource"] = Property(L"SourceDir");
  info[L"URLInfoAbout"] = Property(L"ARPURLINFOABOUT");
  info[L"URLUpdateInfo"] = Property(L"ARPURLUPDATEINFO");
  info[L"HelpLink"] = Property(L"ARPHELPLINK");
  info[L"HelpTelephone"] = Property(L"ARPHELPTELEPHONE");
  info[L"ProductID"] = Property(L"ProductID");
  info[L"RegOwner"] = Property(L"USERNAME");
  info[L"RegCompany"] = Property(L"COMPANYNAME");
  info[L"AssignmentType"] = Property(L"ALLUSERS") == L"1" ? L"1" : L"0";
  info[L"LocalPackage"] = installed_ && installed_->info.count(L"LocalPackage") ? installed_->info.at(L"LocalPackage")
                                                                                  : std::wstring();

  for (const auto& row : tables_.features) {
    const auto& state = features_.at(row.name);
    const int final_state = state.action != INSTALLSTATE_UNKNOWN ? state.action : state.installed;
    registration.features.push_back(
        {row.name, row.parent, final_state == INSTALLSTATE_LOCAL ? INSTALLSTATE_LOCAL : INSTALLSTATE_ABSENT});
  }
  for (const auto& component : tables_.components) {
    const auto& state = components_.at(component.key);
    if (component.component_id.empty() || state.action == INSTALLSTATE_ABSENT) {
      continue;
    }
    if (state.action == INSTALLSTATE_LOCAL) {
      std::wstring key_path = ComponentDirectory(component.key);
      if (!component.key_path.empty()) {
        key_path = FindFile(component.key_path) ? FilePath(component.key_path) : RegistryKeyPath(component.key_path);
      }
      registration.components.push_back({AsciiUpper(component.component_id), key_path, INSTALLSTATE_LOCAL});
    } else if (installed_ && state.installed == INSTALLSTATE_LOCAL) {
      for (const auto& registered : installed_->components) {
        if (AsciiUpper(registered.component_id) == AsciiUpper(component.component_id)) {
          registration.components.push_back(registered);
        }
      }
    }
  }
  auto add_unique = [](std::vector<std::wstring>& list, const std::wstring& item) {
    if (std::find(list.begin(), list.end(), item) == list.end()) {
      list.push_back(item);
    }
  };
  if (installed_) {
    for (const std::wstring& file : installed_->files) {
      if (std::find(transaction_->removed_files.begin(), transaction_->removed_files.end(), file) ==
          transaction_->removed_files.end()) {
        add_unique(registration.files, file);
      }
    }
    registration.folders = installed_->folders;
    registration.registry_values = installed_->registry_values;
  }
  for (const std::wstring& file : transaction_->written) {
    add_unique(registration.files, file);
  }
  for (const std::wstring& folder : transaction_->created_folders) {
    add_unique(registration.folders, folder);
  }
  for (const auto& value : transaction_->registry_values) {
    const auto same = std::find_if(registration.registry_values.begin(), registration.registry_values.end(),
                                   [&](const auto& old) {
                                     return old.root == value.root && old.key == value.key && old.name == value.name;
                                   });
    if (same == registration.registry_values.end()) {
      registration.registry_values.push_back(value);
    } else {
      *same = value;
    }
  }
  return registration;
}

UINT Session::Commit() {
  std::vector<std::wstring> remove = transaction_->removed_products;
  if (transaction_->removing) {
    const auto cached = installed_->info.find(L"LocalPackage");
    if (cached != installed_->info.end()) {
      RemoveInstalledFile(cached->second);
    }
    remove.push_back(AsciiUpper(ProductCode()));
    store_->Commit({}, remove);
    return ERROR_SUCCESS;
  }
  ProductRegistration registration = BuildRegistration();
  if (registration.info[L"LocalPackage"].empty()) {
    // The package is cached under a fresh name, journaled like any other file.
    char name[64];
    std::snprintf(name, sizeof name, "%08lx%04x.msi", static_cast<unsigned long>(std::time(nullptr)),
                  static_cast<unsigned>(getpid() & 0xFFFF));
    fs::path cached = store_->package_cache() / name;
    for (int n = 1; fs::exists(cached); ++n) {
      cached = store_->package_cache() / (std::string(name, 12) + "-" + std::to_string(n) + ".msi");
    }
    store_->Record({{JournalEntry::Kind::kCreatedFile, Wide(cached), {}}});
    std::error_code error;
    if (!fs::copy_file(package_path_, cached, error)) {
      throw StoreError("cannot cache the package: " + error.message());
    }
    registration.info[L"LocalPackage"] = Wide(cached);
  }
  store_->Commit({registration}, remove);
  return ERROR_SUCCESS;
}

UINT Session::Install() {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  transaction_ = std::make_unique<Transaction>();
  // The transaction (and with it the lock) ends with this call, however it ends.
  struct EndTransaction {
    std::unique_ptr<Transaction>& transaction;
    ~EndTransaction() { transaction.reset(); }
  } end{transaction_};
  transaction_->lock = store_->TryLock();
  if (!transaction_->lock) {
    channel_.Verbose(L"Another installation is in progress.");
    return ERROR_INSTALL_ALREADY_RUNNING;
  }
  // The registration may have changed since the package was opened.
  const std::wstring code = AsciiUpper(ProductCode());
  installed_ = store_->Load(code);
  const bool remove_all = Property(L"REMOVE") == L"ALL";
  if (remove_all && !installed_) {
    return ERROR_UNKNOWN_PRODUCT;
  }
  transaction_->removing = remove_all;
  if (installed_) {
    SetProperty(L"Installed", installed_->info.count(L"InstallDate") ? installed_->info.at(L"InstallDate") : L"1");
  }

  channel_.Send(INSTALLMESSAGE_INITIALIZE, L"");
  channel_.Send(INSTALLMESSAGE_COMMONDATA, L"1: 0 2: " + Property(L"ProductLanguage") + L" 3: 0 ");
  channel_.Send(INSTALLMESSAGE_COMMONDATA, L"1: 1 2: " + Property(L"ProductName") + L" ");
  channel_.Send(INSTALLMESSAGE_ACTIONSTART, L"Action " + ClockText() + L": INSTALL. ");
  channel_.Send(INSTALLMESSAGE_INFO, L"Action start " + ClockText() + L": INSTALL.");

  UINT result;
  try {
    store_->BeginOperation(remove_all ? OperationKind::kRemove : OperationKind::kInstall, code);
    result = WalkSequence();
    if (result == ERROR_SUCCESS || result == ERROR_SUCCESS_REBOOT_REQUIRED) {
      result = Commit() == ERROR_SUCCESS ? result : ERROR_INSTALL_FAILURE;
    } else {
      store_->RollBack();
    }
  } catch (const std::exception& error) {
    channel_.Send(INSTALLMESSAGE_INFO, L"The installation failed: " + ovra::WideFromUtf8(error.what()));
    try {
      store_->RollBack();
    } catch (const std::exception& rollback) {
      // The journal stays; the next engine call rolls it back.
      channel_.Send(INSTALLMESSAGE_INFO, L"Roll back failed: " + ovra::WideFromUtf8(rollback.what()));
    }
    result = ERROR_INSTALL_FAILURE;
  }

  channel_.Send(INSTALLMESSAGE_INFO, L"Action ended " + ClockText() + L": INSTALL. Return value " +
                                         std::to_wstring(ReturnValue(result)) + L".");
  for (const auto& [name, value] : properties_) {
    channel_.PropertyDump(name, value);
  }
  const bool succeeded = result == ERROR_SUCCESS || result == ERROR_SUCCESS_REBOOT_REQUIRED;
  channel_.Send(INSTALLMESSAGE_INFO, L"Product: " + Property(L"ProductName") + L" -- " +
                                         (remove_all ? L"Removal " : L"Installation ") +
                                         (succeeded ? L"completed successfully." : L"failed."));
  channel_.Send(INSTALLMESSAGE_COMMONDATA, L"1: 2 2: 0 ");
  channel_.Send(INSTALLMESSAGE_COMMONDATA, L"1: 2 2: 1 ");
  channel_.Finish(result);
  channel_.Send(INSTALLMESSAGE_TERMINATE, L"");
  return result;
}

}  // namespace linux_msi
