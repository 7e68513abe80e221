// The tables of a package that the engine works from, read once when the
// package is opened. A table the package lacks reads as empty.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "windows_types.h"

namespace linux_msi {

struct PackageTables {
  struct Directory {
    std::wstring key, parent, default_dir;
  };
  struct Feature {
    std::wstring name, parent, title, description, directory;
    int display = 0, level = 0, attributes = 0;
  };
  struct Component {
    std::wstring key, component_id, directory, condition, key_path;
    int attributes = 0;
  };
  struct File {
    std::wstring key, component, file_name;
    long long size = 0;
    int attributes = 0, sequence = 0;
  };
  struct Media {
    int disk_id = 0, last_sequence = 0;
    std::wstring cabinet;
  };
  struct CustomAction {
    std::wstring action, source, target;
    int type = 0;
  };
  struct SequenceEntry {
    std::wstring action, condition;
    int sequence = 0;
  };
  struct Upgrade {
    std::wstring upgrade_code, version_min, version_max, language, remove, action_property;
    int attributes = 0;
  };
  struct LaunchCondition {
    std::wstring condition, description;
  };
  struct RegistryRow {
    std::wstring key, registry_key, name, value, component;
    int root = 0;
  };
  struct FeatureCondition {
    std::wstring feature, condition;
    int level = 0;
  };
  struct ActionText {
    std::wstring description, template_text;
  };

  std::vector<std::pair<std::wstring, std::wstring>> properties;  // in table order
  std::vector<Directory> directories;
  std::vector<Feature> features;
  std::vector<std::pair<std::wstring, std::wstring>> feature_components;  // feature, component
  std::vector<Component> components;
  std::vector<File> files;
  std::vector<Media> media;
  std::vector<CustomAction> custom_actions;
  std::vector<SequenceEntry> execute_sequence;  // sorted by Sequence
  std::vector<Upgrade> upgrades;
  std::vector<LaunchCondition> launch_conditions;
  std::vector<RegistryRow> registry;
  std::vector<FeatureCondition> feature_conditions;
  std::map<std::wstring, ActionText> action_texts;
  std::wstring package_code;  // summary information: revision number
  std::wstring template_text;  // summary information: "platform;languages"
};

// Reads the package at `path` (UTF-8). ERROR_SUCCESS, ERROR_FILE_NOT_FOUND
// when there is no such file, or ERROR_INSTALL_PACKAGE_INVALID when it is not
// a readable package, or names a file or folder that would leave its parent
// folder ("..", a name with a slash).
UINT ReadPackageTables(const std::string& path, PackageTables& tables);

// Copies a stream of the package's _Streams table (an embedded cabinet) to a file.
UINT SavePackageStream(const std::string& package_path, const std::wstring& stream, const std::string& file);

// The long name of a "short|long" file or folder name.
std::wstring LongName(const std::wstring& name);

// The target part of a Directory table DefaultDir ("target:source", each "short|long").
std::wstring TargetName(const std::wstring& default_dir);

}  // namespace linux_msi
