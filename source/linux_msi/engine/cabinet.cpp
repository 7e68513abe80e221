#include "engine/cabinet.h"

#include <libgcab.h>
#include <sys/stat.h>

#include <cstring>
#include <fstream>

#include <memory>
#include <set>

namespace linux_msi {
namespace {

struct GObjectUnref {
  void operator()(gpointer object) const { g_object_unref(object); }
};
template <typename T>
using Owned = std::unique_ptr<T, GObjectUnref>;

struct Extraction {
  const std::map<std::string, std::string>* targets;
  const std::function<bool(const std::string&)>* before_each;
  GCancellable* cancellable;
  std::set<std::string> written;
};

gboolean OnFile(GCabFile* file, gpointer data) {
  auto* run = static_cast<Extraction*>(data);
  const std::string name = gcab_file_get_name(file);
  const auto target = run->targets->find(name);
  if (target == run->targets->end() || g_cancellable_is_cancelled(run->cancellable)) {
    return FALSE;
  }
  if (!(*run->before_each)(name)) {
    g_cancellable_cancel(run->cancellable);
    return FALSE;
  }
  // Extraction goes below "/": the name relative to it is the target path.
  gcab_file_set_extract_name(file, target->second.c_str() + 1);
  run->written.insert(name);
  return TRUE;
}

// Windows runs any installed program; here a program needs its execute bits, which
// a cabinet does not carry. A file that starts as a script ("#!") or an ELF image
// gets them wherever it has read bits.
void MarkProgramExecutable(const std::string& path) {
  char start[4] = {};
  std::ifstream(path, std::ios::binary).read(start, sizeof start);
  if (std::memcmp(start, "#!", 2) != 0 && std::memcmp(start, "\x7f" "ELF", 4) != 0) return;
  struct stat status {};
  if (stat(path.c_str(), &status) != 0) return;
  const mode_t readable = status.st_mode & (S_IRUSR | S_IRGRP | S_IROTH);
  chmod(path.c_str(), status.st_mode | (readable >> 2));
}

}  // namespace

UINT ExtractCabinet(const std::string& cabinet_path, const std::map<std::string, std::string>& targets,
                    const std::function<bool(const std::string& entry)>& before_each, std::string& problem) {
  Owned<GFile> file(g_file_new_for_path(cabinet_path.c_str()));
  GError* error = nullptr;
  Owned<GFileInputStream> input(g_file_read(file.get(), nullptr, &error));
  Owned<GCabCabinet> cabinet(gcab_cabinet_new());
  if (!input || !gcab_cabinet_load(cabinet.get(), G_INPUT_STREAM(input.get()), nullptr, &error)) {
    problem = "cannot read cabinet " + cabinet_path + (error ? std::string(": ") + error->message : "");
    g_clear_error(&error);
    return ERROR_INSTALL_FAILURE;
  }
  Owned<GCancellable> cancellable(g_cancellable_new());
  Extraction run{&targets, &before_each, cancellable.get(), {}};
  Owned<GFile> root(g_file_new_for_path("/"));
  const gboolean done =
      gcab_cabinet_extract_simple(cabinet.get(), root.get(), OnFile, &run, cancellable.get(), &error);
  if (g_cancellable_is_cancelled(cancellable.get())) {
    g_clear_error(&error);
    return ERROR_INSTALL_USEREXIT;
  }
  if (!done) {
    problem = "cannot extract from cabinet " + cabinet_path + (error ? std::string(": ") + error->message : "");
    g_clear_error(&error);
    return ERROR_INSTALL_FAILURE;
  }
  for (const auto& target : targets) {
    if (!run.written.count(target.first)) {
      problem = "file " + target.first + " is not in cabinet " + cabinet_path;
      return ERROR_INSTALL_FAILURE;
    }
    MarkProgramExecutable(target.second);
  }
  return ERROR_SUCCESS;
}

}  // namespace linux_msi
