// Opening a package, its properties, and costing: folders, feature and
// component states.
#include "engine/session.h"

#include <pwd.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <functional>

#include "ovra/strings.h"
#include "state_folder.h"
#include "engine/text.h"

namespace linux_msi {
namespace {

namespace fs = std::filesystem;

std::wstring WithSlash(std::wstring path) {
  if (path.empty() || path.back() != L'/') {
    path += L'/';
  }
  return path;
}

std::vector<std::wstring> SplitList(const std::wstring& list) {
  std::vector<std::wstring> items;
  std::size_t start = 0;
  while (start <= list.size()) {
    const std::size_t comma = std::min(list.find(L',', start), list.size());
    if (comma > start) {
      items.push_back(list.substr(start, comma - start));
    }
    start = comma + 1;
  }
  return items;
}

bool ListHas(const std::vector<std::wstring>& list, const std::wstring& name) {
  return std::find(list.begin(), list.end(), L"ALL") != list.end() ||
         std::find(list.begin(), list.end(), name) != list.end();
}

std::wstring UserName() {
  if (const passwd* entry = getpwuid(getuid())) {
    return ovra::WideFromUtf8(entry->pw_name);
  }
  return L"user";
}

std::wstring HostName() {
  char name[256] = {};
  gethostname(name, sizeof name - 1);
  return ovra::WideFromUtf8(name);
}

}  // namespace

UINT Session::Open(const std::wstring& path, std::shared_ptr<Session>& session) {
  const std::string package = ovra::Utf8FromWide(path);
  PackageTables tables;
  const UINT read = ReadPackageTables(package, tables);
  if (read != ERROR_SUCCESS) {
    return read;
  }
  std::shared_ptr<ProductStore> store = ProductStore::ForCurrentHome();
  if (!store) {
    return ERROR_INSTALL_FAILURE;
  }
  std::error_code error;
  const fs::path absolute = fs::absolute(package, error);
  session.reset(new Session(error ? package : absolute.string(), std::move(tables), std::move(store)));
  return ERROR_SUCCESS;
}

Session::Session(std::string package_path, PackageTables tables, std::shared_ptr<ProductStore> store)
    : package_path_(std::move(package_path)),
      tables_(std::move(tables)),
      store_(std::move(store)),
      channel_(CurrentUiSettings()) {
  for (const auto& property : tables_.properties) {
    properties_[property.first] = property.second;
  }
  SetBuiltInProperties(ovra::WideFromUtf8(package_path_));
  installed_ = store_->Load(AsciiUpper(ProductCode()));
  if (installed_) {
    properties_[L"Installed"] = installed_->info.count(L"InstallDate") ? installed_->info.at(L"InstallDate") : L"1";
    properties_[L"ProductState"] = std::to_wstring(INSTALLSTATE_DEFAULT);
  } else {
    properties_[L"ProductState"] = std::to_wstring(INSTALLSTATE_UNKNOWN);
  }
}

Session::~Session() { channel_.Finish(ERROR_SUCCESS); }

void Session::SetBuiltInProperties(const std::wstring& path) {
  const std::wstring drive = WithSlash(ovra::WideFromUtf8(store_->drive_root().string()));
  // The folder the platform seam names as Program Files.
  const std::wstring program_files =
      WithSlash(ovra::WideFromUtf8(linux_msi::ProgramFilesFolder(store_->drive_root()).string()));
  const std::wstring user = UserName();
  const std::wstring profile = drive + L"Users/" + user + L"/";
  const std::pair<const wchar_t*, std::wstring> folders[] = {
      {L"ROOTDRIVE", drive},
      {L"WindowsVolume", drive},
      {L"ProgramFilesFolder", program_files},
      {L"ProgramFiles64Folder", program_files},
      {L"CommonFilesFolder", program_files + L"Common Files/"},
      {L"CommonFiles64Folder", program_files + L"Common Files/"},
      {L"CommonAppDataFolder", drive + L"ProgramData/"},
      {L"WindowsFolder", drive + L"Windows/"},
      {L"SystemFolder", drive + L"Windows/System32/"},
      {L"System64Folder", drive + L"Windows/System32/"},
      {L"System16Folder", drive + L"Windows/System/"},
      {L"FontsFolder", drive + L"Windows/Fonts/"},
      {L"TempFolder", drive + L"Temp/"},
      {L"AppDataFolder", profile + L"AppData/Roaming/"},
      {L"LocalAppDataFolder", profile + L"AppData/Local/"},
      {L"PersonalFolder", profile + L"Documents/"},
      {L"DesktopFolder", profile + L"Desktop/"},
      {L"FavoritesFolder", profile + L"Favorites/"},
      {L"TemplateFolder", profile + L"Templates/"},
      {L"StartMenuFolder", profile + L"Start Menu/"},
      {L"ProgramMenuFolder", profile + L"Start Menu/Programs/"},
      {L"StartupFolder", profile + L"Start Menu/Programs/Startup/"},
      {L"SendToFolder", profile + L"SendTo/"},
  };
  for (const auto& folder : folders) {
    properties_[folder.first] = folder.second;
  }
  utsname system{};
  uname(&system);
  const bool x64 = std::string(system.machine) == "x86_64" || std::string(system.machine) == "aarch64";
  if (x64) {
    properties_[L"VersionNT64"] = L"603";
    properties_[L"Msix64"] = L"6";
  }
  properties_[L"VersionNT"] = L"603";
  properties_[L"WindowsBuild"] = L"9600";
  properties_[L"ServicePackLevel"] = L"0";
  properties_[L"VersionMsi"] = L"5.00";
  properties_[L"Intel"] = L"6";
  properties_[L"MsiNTProductType"] = L"1";
  properties_[L"Privileged"] = L"1";
  if (geteuid() == 0) {
    properties_[L"AdminUser"] = L"1";
  }
  properties_[L"LogonUser"] = user;
  properties_[L"ComputerName"] = HostName();
  properties_[L"SystemLanguageID"] = L"1033";
  properties_[L"UserLanguageID"] = L"1033";
  properties_[L"UILevel"] = std::to_wstring(CurrentUiSettings().internal_level & 0x0F);
  properties_[L"OriginalDatabase"] = path;
  properties_[L"DATABASE"] = path;
  const std::wstring source = WithSlash(fs::path(path).parent_path().wstring());
  properties_[L"SourceDir"] = source;
  properties_[L"SOURCEDIR"] = source;
  properties_[L"PackageCode"] = tables_.package_code;
  if (!properties_.count(L"ProductLanguage")) {
    const std::size_t semicolon = tables_.template_text.find(L';');
    properties_[L"ProductLanguage"] =
        semicolon == std::wstring::npos ? L"1033" : tables_.template_text.substr(semicolon + 1);
  }
  char date[16];
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  std::strftime(date, sizeof date, "%m/%d/%Y", &local);
  properties_[L"Date"] = ovra::WideFromUtf8(date);
}

// --- Properties ---

std::wstring Session::Property(const std::wstring& name) const {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  const auto found = properties_.find(name);
  return found == properties_.end() ? std::wstring() : found->second;
}

void Session::SetProperty(const std::wstring& name, const std::wstring& value) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (value.empty()) {
    properties_.erase(name);
  } else {
    properties_[name] = value;
  }
}

bool Session::ApplyCommandLine(const std::wstring& line) {
  std::size_t i = 0;
  auto blank = [&](std::size_t at) { return at < line.size() && std::iswspace(line[at]); };
  while (true) {
    while (blank(i)) {
      ++i;
    }
    if (i >= line.size()) {
      return true;
    }
    const std::size_t equals = line.find(L'=', i);
    if (equals == std::wstring::npos || equals == i) {
      return false;
    }
    const std::wstring name = line.substr(i, equals - i);
    if (std::any_of(name.begin(), name.end(), [](wchar_t c) { return std::iswspace(c) || c == L'"'; })) {
      return false;
    }
    i = equals + 1;
    std::wstring value;
    // A value runs to the next blank; quotes group blanks, and "" inside them is one quote.
    bool quoted = false;
    while (i < line.size() && (quoted || !std::iswspace(line[i]))) {
      if (line[i] == L'"') {
        if (quoted && i + 1 < line.size() && line[i + 1] == L'"') {
          value += L'"';
          ++i;
        } else {
          quoted = !quoted;
        }
      } else {
        value += line[i];
      }
      ++i;
    }
    if (quoted) {
      return false;
    }
    SetProperty(name, value);
  }
}

std::wstring Session::Environment(const std::wstring& name) const {
  const char* value = std::getenv(ovra::Utf8FromWide(name).c_str());
  return value ? ovra::WideFromUtf8(value) : std::wstring();
}

// --- States ---

int Session::ComponentInstalledState(const std::wstring& name) const {
  const auto found = components_.find(name);
  if (found != components_.end()) {
    return found->second.installed;
  }
  const PackageTables::Component* component = FindComponent(name);
  if (!component) {
    return INSTALLSTATE_UNKNOWN;
  }
  if (installed_) {
    for (const auto& registered : installed_->components) {
      if (AsciiUpper(registered.component_id) == AsciiUpper(component->component_id)) {
        return registered.state;
      }
    }
  }
  return INSTALLSTATE_ABSENT;
}

int Session::ComponentActionState(const std::wstring& name) const {
  const auto found = components_.find(name);
  return found == components_.end() ? INSTALLSTATE_UNKNOWN : found->second.action;
}

int Session::FeatureInstalledState(const std::wstring& name) const {
  const auto found = features_.find(name);
  if (found != features_.end()) {
    return found->second.installed;
  }
  const bool known = std::any_of(tables_.features.begin(), tables_.features.end(),
                                 [&](const auto& feature) { return feature.name == name; });
  if (!known) {
    return INSTALLSTATE_UNKNOWN;
  }
  if (installed_) {
    for (const auto& feature : installed_->features) {
      if (feature.name == name) {
        return feature.state;
      }
    }
  }
  return INSTALLSTATE_ABSENT;
}

int Session::FeatureActionState(const std::wstring& name) const {
  const auto found = features_.find(name);
  return found == features_.end() ? INSTALLSTATE_UNKNOWN : found->second.action;
}

UINT Session::GetFeatureState(const std::wstring& feature, int& installed, int& action) const {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (!std::any_of(tables_.features.begin(), tables_.features.end(),
                   [&](const auto& row) { return row.name == feature; })) {
    return ERROR_UNKNOWN_FEATURE;
  }
  installed = FeatureInstalledState(feature);
  action = FeatureActionState(feature);
  return ERROR_SUCCESS;
}

// --- Paths ---

const PackageTables::File* Session::FindFile(const std::wstring& key) const {
  for (const auto& file : tables_.files) {
    if (file.key == key) {
      return &file;
    }
  }
  return nullptr;
}

const PackageTables::Component* Session::FindComponent(const std::wstring& key) const {
  for (const auto& component : tables_.components) {
    if (component.key == key) {
      return &component;
    }
  }
  return nullptr;
}

std::wstring Session::DirectoryPath(const std::wstring& key) const {
  const auto found = directories_.find(key);
  return found == directories_.end() ? std::wstring() : found->second;
}

UINT Session::GetTargetPath(const std::wstring& folder, std::wstring& path) const {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  path = costed_ ? DirectoryPath(folder) : std::wstring();
  return path.empty() ? ERROR_DIRECTORY : ERROR_SUCCESS;
}

std::wstring Session::ComponentDirectory(const std::wstring& key) const {
  const PackageTables::Component* component = FindComponent(key);
  return component ? DirectoryPath(component->directory) : std::wstring();
}

std::wstring Session::FilePath(const std::wstring& key) const {
  const PackageTables::File* file = FindFile(key);
  if (!file) {
    return {};
  }
  const std::wstring folder = ComponentDirectory(file->component);
  return folder.empty() ? std::wstring() : folder + LongName(file->file_name);
}

// --- Costing ---

void Session::ResolveDirectories() {
  // Folders named by a property before costing (standard folders, the command
  // line, a directory custom action) are used as they are.
  if (!costed_) {
    for (const auto& directory : tables_.directories) {
      if (!Property(directory.key).empty()) {
        fixed_directories_.insert(directory.key);
      }
    }
  }
  std::map<std::wstring, const PackageTables::Directory*> rows;
  for (const auto& directory : tables_.directories) {
    rows[directory.key] = &directory;
  }
  directories_.clear();
  const std::wstring root = WithSlash(Property(L"TARGETDIR").empty() ? Property(L"ROOTDRIVE") : Property(L"TARGETDIR"));
  std::set<std::wstring> visiting;
  std::function<std::wstring(const std::wstring&)> resolve = [&](const std::wstring& key) -> std::wstring {
    const auto done = directories_.find(key);
    if (done != directories_.end()) {
      return done->second;
    }
    const auto row = rows.find(key);
    std::wstring path;
    if (fixed_directories_.count(key)) {
      std::error_code error;
      const fs::path absolute = fs::absolute(fs::path(Property(key)), error);
      path = WithSlash(error ? Property(key) : absolute.wstring());
    } else if (row == rows.end() || row->second->parent.empty() || row->second->parent == key ||
               !visiting.insert(key).second) {
      path = root;  // a root folder, or a loop in the table
    } else {
      const std::wstring name = TargetName(row->second->default_dir);
      path = resolve(row->second->parent);
      if (!name.empty() && name != L".") {
        path += name + L"/";
      }
    }
    directories_[key] = path;
    return path;
  };
  for (const auto& directory : tables_.directories) {
    properties_[directory.key] = resolve(directory.key);
  }
}

void Session::SelectFeatures() {
  const int install_level = std::max(1, std::atoi(ovra::Utf8FromWide(Property(L"INSTALLLEVEL")).c_str()));
  const std::vector<std::wstring> add = SplitList(Property(L"ADDLOCAL") + L"," + Property(L"ADDSOURCE") + L"," +
                                                  Property(L"ADDDEFAULT"));
  const std::vector<std::wstring> remove = SplitList(Property(L"REMOVE"));
  const bool requested = !add.empty() || !remove.empty();

  features_.clear();
  std::map<std::wstring, int> wanted;
  std::set<std::wstring> explicitly_added;
  for (const auto& row : tables_.features) {
    const int installed = FeatureInstalledState(row.name);
    FeatureState& state = features_[row.name];
    state.installed = installed;
    state.level = row.level;
    for (const auto& condition : tables_.feature_conditions) {
      if (condition.feature == row.name && EvaluateCondition(condition.condition, *this) == ConditionResult::kTrue) {
        state.level = condition.level;
      }
    }
    int desired;
    if (state.level <= 0 || ListHas(remove, row.name)) {
      desired = INSTALLSTATE_ABSENT;
    } else if (ListHas(add, row.name)) {
      desired = INSTALLSTATE_LOCAL;
      explicitly_added.insert(row.name);
    } else if (requested || installed_) {
      desired = state.installed == INSTALLSTATE_LOCAL ? INSTALLSTATE_LOCAL : INSTALLSTATE_ABSENT;
    } else {
      desired = state.level <= install_level ? INSTALLSTATE_LOCAL : INSTALLSTATE_ABSENT;
    }
    wanted[row.name] = desired;
  }
  // A feature lives inside its parent: an absent parent takes its children
  // along, unless a child was asked for, which brings its parents in.
  std::function<bool(const std::wstring&, int)> parent_absent = [&](const std::wstring& name, int depth) {
    for (const auto& row : tables_.features) {
      if (row.name == name) {
        if (row.parent.empty() || row.parent == name || depth > 64) {
          return false;
        }
        return wanted[row.parent] == INSTALLSTATE_ABSENT || parent_absent(row.parent, depth + 1);
      }
    }
    return false;
  };
  std::map<std::wstring, int> final_state = wanted;
  for (const auto& row : tables_.features) {
    if (final_state[row.name] == INSTALLSTATE_LOCAL && !explicitly_added.count(row.name) && parent_absent(row.name, 0)) {
      final_state[row.name] = INSTALLSTATE_ABSENT;
    }
  }
  for (const std::wstring& name : explicitly_added) {
    std::wstring current = name;
    for (int depth = 0; depth < 64; ++depth) {
      const auto row = std::find_if(tables_.features.begin(), tables_.features.end(),
                                    [&](const auto& feature) { return feature.name == current; });
      const auto parent = row == tables_.features.end() ? features_.end() : features_.find(row->parent);
      if (parent == features_.end() || row->parent == current || parent->second.level <= 0) {
        break;
      }
      final_state[row->parent] = INSTALLSTATE_LOCAL;
      current = row->parent;
    }
  }
  for (auto& [name, state] : features_) {
    state.action = final_state[name] == state.installed ? INSTALLSTATE_UNKNOWN : final_state[name];
    if (state.installed != INSTALLSTATE_LOCAL && final_state[name] == INSTALLSTATE_ABSENT) {
      state.action = INSTALLSTATE_UNKNOWN;
    }
  }

  components_.clear();
  for (const auto& component : tables_.components) {
    bool needed = false;
    for (const auto& link : tables_.feature_components) {
      if (link.second == component.key && final_state[link.first] == INSTALLSTATE_LOCAL) {
        needed = true;
        break;
      }
    }
    if (needed && !component.condition.empty()) {
      needed = EvaluateCondition(component.condition, *this) == ConditionResult::kTrue;
    }
    ComponentState state;
    state.installed = ComponentInstalledState(component.key);
    if (needed && state.installed != INSTALLSTATE_LOCAL) {
      state.action = INSTALLSTATE_LOCAL;
    } else if (!needed && state.installed == INSTALLSTATE_LOCAL) {
      state.action = INSTALLSTATE_ABSENT;
    }
    components_[component.key] = state;
  }
}

}  // namespace linux_msi
