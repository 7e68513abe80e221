// MsiOpenDatabaseW, MsiDatabaseCommit, MsiDatabaseOpenViewW and the handle calls.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>

#include "api/boundary.h"
#include "api/msi_objects.h"
#include "api/storage_children.h"

using namespace linux_msi;

namespace {

bool SameFile(const std::string& a, const std::string& b) {
  struct stat sa {};
  struct stat sb {};
  return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

bool CanOpen(const std::string& path, bool write) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), write ? R_OK | W_OK : R_OK) == 0;
}

// Persist pointers below 64K are modes; anything else names an output file.
bool IsPersistMode(LPCWSTR persist) { return reinterpret_cast<std::uintptr_t>(persist) < 0x10000; }

std::uintptr_t ModeValue(LPCWSTR mode) { return reinterpret_cast<std::uintptr_t>(mode); }

// MSIDBOPEN_PATCHFILE is added to a mode as a pointer offset: in bytes it is
// the same on every system, whatever the size of wchar_t.
const std::uintptr_t kPatchOffset = MSIDBOPEN_PATCHFILE * sizeof(*MSIDBOPEN_READONLY);

// MsiOpenDatabaseW, its pointers checked.
UINT OpenDatabase(LPCWSTR database_path, LPCWSTR persist, MSIHANDLE& opened) {
  const std::string path = Utf8FromWideZ(database_path);
  std::string output;
  guint flags = 0;
  bool create = false;
  if (IsPersistMode(persist)) {
    std::uintptr_t mode = ModeValue(persist);
    // As msi.dll does: a value within the patch offset's range of the modes is a patch mode.
    if (mode - kPatchOffset <= ModeValue(MSIDBOPEN_CREATEDIRECT)) {
      flags |= LIBMSI_DB_FLAGS_PATCH;
      mode -= kPatchOffset;
    }
    // libmsi deletes the file it writes to when released without a commit, so
    // every writable mode writes a side file that a commit moves over the package.
    if (mode == ModeValue(MSIDBOPEN_READONLY)) {
      flags |= LIBMSI_DB_FLAGS_READONLY;
    } else if (mode == ModeValue(MSIDBOPEN_TRANSACT) || mode == ModeValue(MSIDBOPEN_DIRECT)) {
      flags |= LIBMSI_DB_FLAGS_TRANSACT;
    } else if (mode == ModeValue(MSIDBOPEN_CREATE) || mode == ModeValue(MSIDBOPEN_CREATEDIRECT)) {
      flags |= LIBMSI_DB_FLAGS_CREATE | LIBMSI_DB_FLAGS_TRANSACT;
      create = true;
    } else {
      return ERROR_INVALID_PARAMETER;
    }
  } else {
    output = Utf8FromWideZ(persist);
    flags |= LIBMSI_DB_FLAGS_TRANSACT;
    if (output.empty() || SameFile(path, output)) {
      output.clear();
    }
  }

  const bool read_only = (flags & LIBMSI_DB_FLAGS_READONLY) != 0;
  if (!create) {
    // A writable open must find a writable package; with an output file, the
    // package must open before libmsi claims (and on failure deletes) that file.
    const bool write = !read_only && output.empty();
    if (!CanOpen(path, write)) {
      return ERROR_OPEN_FAILED;
    }
    if (!output.empty()) {
      GObjectPtr<LibmsiDatabase> probe = OpenLibmsiDatabase(path, LIBMSI_DB_FLAGS_READONLY, nullptr, nullptr);
      if (!probe) {
        return ERROR_OPEN_FAILED;
      }
    }
  }

  ErrorSlot error;
  GObjectPtr<LibmsiDatabase> database =
      OpenLibmsiDatabase(path, flags, output.empty() ? nullptr : output.c_str(), error.out());
  if (!database) {
    return create ? ERROR_CREATE_FAILED : ERROR_OPEN_FAILED;
  }
  const MSIHANDLE handle =
      HandleTable::Instance().Add(std::make_shared<DatabaseObject>(std::move(database), read_only));
  if (handle == 0) {
    return ERROR_NOT_ENOUGH_MEMORY;
  }
  opened = handle;
  return ERROR_SUCCESS;
}

}  // namespace

extern "C" {

UINT WINAPI MsiCloseHandle(MSIHANDLE hAny) {
  return Guarded(ERROR_FUNCTION_FAILED, [&]() -> UINT {
    if (hAny == 0) {
      return ERROR_SUCCESS;
    }
    return HandleTable::Instance().Remove(hAny) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
  });
}

UINT WINAPI MsiCloseAllHandles(void) {
  return Guarded(0u, [&]() -> UINT { return static_cast<UINT>(HandleTable::Instance().RemoveAll().size()); });
}

UINT WINAPI MsiOpenDatabaseW(LPCWSTR szDatabasePath, LPCWSTR szPersist, MSIHANDLE* phDatabase) {
  return Guarded(ERROR_OPEN_FAILED, [&]() -> UINT {
    if (!szDatabasePath || !phDatabase) {
      return ERROR_INVALID_PARAMETER;
    }
    return OpenDatabase(szDatabasePath, szPersist, *phDatabase);
  });
}

UINT WINAPI MsiDatabaseCommit(MSIHANDLE hDatabase) {
  return Guarded(ERROR_FUNCTION_FAILED, [&]() -> UINT {
    auto database = HandleTable::Instance().Find<DatabaseObject>(hDatabase);
    if (!database) {
      return ERROR_INVALID_HANDLE;
    }
    if (database->read_only()) {
      return ERROR_SUCCESS;
    }
    std::lock_guard<std::mutex> lock(database->mutex());
    ErrorSlot error;
    StorageChildCollector reopened;  // a commit reopens the file it wrote
    const bool committed = libmsi_database_commit(database->get(), error.out());
    reopened.HandTo(database->get());
    return committed ? ERROR_SUCCESS : ERROR_FUNCTION_FAILED;
  });
}

UINT WINAPI MsiDatabaseOpenViewW(MSIHANDLE hDatabase, LPCWSTR szQuery, MSIHANDLE* phView) {
  return Guarded(ERROR_FUNCTION_FAILED, [&]() -> UINT {
    if (!phView) {
      return ERROR_INVALID_PARAMETER;
    }
    if (!szQuery) {
      return ERROR_BAD_QUERY_SYNTAX;
    }
    auto database = HandleTable::Instance().Find<DatabaseObject>(hDatabase);
    if (!database) {
      return ERROR_INVALID_HANDLE;
    }
    std::string sql = Utf8FromWideZ(szQuery);
    ErrorSlot error;
    GObjectPtr<LibmsiQuery> query;
    {
      std::lock_guard<std::mutex> lock(database->mutex());
      query.reset(libmsi_query_new(database->get(), sql.c_str(), error.out()));
    }
    if (!query) {
      return error.Code(ERROR_BAD_QUERY_SYNTAX);
    }
    const MSIHANDLE handle = HandleTable::Instance().Add(
        std::make_shared<ViewObject>(std::move(database), std::move(query), std::move(sql)));
    if (handle == 0) {
      return ERROR_NOT_ENOUGH_MEMORY;
    }
    *phView = handle;
    return ERROR_SUCCESS;
  });
}

}  // extern "C"
