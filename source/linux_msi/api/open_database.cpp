// libmsi's GLib log, routed to the platform's MSI diagnostic sink.
#include <mutex>
#include <string>

#include "api/msi_objects.h"
#include "package_check/package_check.h"
#include "platform/msi_diagnostics.h"
#include "api/storage_children.h"

namespace linux_msi {
namespace {

const char* LevelName(GLogLevelFlags level) {
  if (level & G_LOG_LEVEL_CRITICAL) return "critical";
  if (level & G_LOG_LEVEL_WARNING) return "warning";
  if (level & G_LOG_LEVEL_MESSAGE) return "message";
  if (level & G_LOG_LEVEL_INFO) return "info";
  return "debug";
}

void Forward(const gchar* domain, GLogLevelFlags level, const gchar* message, gpointer /*data*/) {
  std::string text = std::string(domain ? domain : "libmsi") + " " + LevelName(level) + ": " + (message ? message : "");
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
    text.pop_back();
  }
  platform::ReportMsiDiagnostic(text);
}

// libmsi logs without a log domain; libgsf, which reads the package's storage
// for it, under its own. g_error stays GLib's: it ends the process.
void RouteLibmsiLog() {
  static std::once_flag routed;
  std::call_once(routed, [] {
    const auto levels = static_cast<GLogLevelFlags>((G_LOG_LEVEL_MASK & ~G_LOG_LEVEL_ERROR) | G_LOG_FLAG_FATAL |
                                                    G_LOG_FLAG_RECURSION);
    for (const char* domain : {static_cast<const char*>(nullptr), "libgsf", "libgsf:msole"}) {
      g_log_set_handler(domain, levels, Forward, nullptr);
    }
  });
}

}  // namespace

GObjectPtr<LibmsiDatabase> OpenLibmsiDatabase(const std::string& path, guint flags, const char* output,
                                              GError** error) {
  RouteLibmsiLog();
  // libmsi may read only a file that the helper has read safely; a new one holds nothing yet.
  if (!(flags & LIBMSI_DB_FLAGS_CREATE) && !MayReadPackageFile(path)) {
    return nullptr;
  }
  StorageChildCollector children;
  GObjectPtr<LibmsiDatabase> database(libmsi_database_new(path.c_str(), flags, output, error));
  if (database) children.HandTo(database.get());
  return database;
}

}  // namespace linux_msi
