// The objects behind the handles, each holding references to libmsi objects.
//
// Locking. libmsi is not thread-safe, so every libmsi object is reached under
// exactly one lock, and a thread takes at most one of each in this order:
//   1. a database's lock: every call that reaches the database, its views,
//      statements and summary information;
//   2. the handle table's lock: every handle lookup, and every read and write
//      of a record's fields. A view that hands a record to libmsi (execute
//      parameters, an inserted or deleted row) takes it inside the database
//      lock, as does a fetch that registers its new record.
// Code holding the handle table's lock never takes a database lock, calls no
// other handle function and releases no handle's object: a closed handle's
// object is released after the lock is let go.
#pragma once

#include <libmsi.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "api/handle_table.h"
#include "msiquery.h"

namespace linux_msi {

struct GObjectUnref {
  void operator()(gpointer object) const { g_object_unref(object); }
};

template <typename T>
using GObjectPtr = std::unique_ptr<T, GObjectUnref>;

// Opens a libmsi database. Every database is opened here, which first routes
// the GLib log of libmsi (messages without a log domain) and of libgsf, its
// storage reader, to platform::ReportMsiDiagnostic, away from stderr, and
// refuses (null, no error set) a file the package check turns down (package_check.h).
GObjectPtr<LibmsiDatabase> OpenLibmsiDatabase(const std::string& path, guint flags, const char* output,
                                              GError** error);

// Windows error code for a libmsi result code.
UINT WindowsErrorFromLibmsi(int code);

// A GError to pass as an out argument: `ErrorSlot e; f(..., e.out());`.
class ErrorSlot {
 public:
  ErrorSlot() = default;
  ErrorSlot(const ErrorSlot&) = delete;
  ErrorSlot& operator=(const ErrorSlot&) = delete;
  ~ErrorSlot() { g_clear_error(&error_); }

  GError** out() { return &error_; }
  const GError* get() const { return error_; }
  // The failure's Windows code; `fallback` when no libmsi error (or a success code) was set.
  UINT Code(UINT fallback) const {
    const bool known = error_ && error_->domain == LIBMSI_RESULT_ERROR;
    const UINT code = known ? WindowsErrorFromLibmsi(error_->code) : ERROR_SUCCESS;
    return code == ERROR_SUCCESS ? fallback : code;
  }

 private:
  GError* error_ = nullptr;
};

// libmsi_query_get_column_info and libmsi_database_get_primary_keys return an
// uninitialised pointer when they fail (a damaged package's table can make them
// fail): only the error they set tells. These ask for it and give null instead.
GObjectPtr<LibmsiRecord> ColumnInfo(LibmsiQuery* query, LibmsiColInfo info);
GObjectPtr<LibmsiRecord> PrimaryKeys(LibmsiDatabase* database, const char* table);

class DatabaseObject : public HandleObject {
 public:
  static constexpr HandleKind kKind = HandleKind::kDatabase;
  DatabaseObject(GObjectPtr<LibmsiDatabase> database, bool read_only)
      : HandleObject(kKind), database_(std::move(database)), read_only_(read_only) {}

  LibmsiDatabase* get() const { return database_.get(); }
  bool read_only() const { return read_only_; }
  // libmsi is not thread-safe: every call that reaches this database (views,
  // statements, summary information) holds this lock.
  std::mutex& mutex() const { return mutex_; }

 private:
  GObjectPtr<LibmsiDatabase> database_;
  const bool read_only_;
  mutable std::mutex mutex_;
};

struct GFree {
  void operator()(gchar* text) const { g_free(text); }
};

// Which fields of a view's rows hold integers, indexed by field number.
using IntegerFields = std::vector<bool>;

class RecordObject : public HandleObject {
 public:
  static constexpr HandleKind kKind = HandleKind::kRecord;
  explicit RecordObject(GObjectPtr<LibmsiRecord> record, std::uint64_t fetched_from = 0,
                        std::shared_ptr<const IntegerFields> integer_fields = nullptr)
      : HandleObject(kKind),
        record_(std::move(record)),
        fetched_from_(fetched_from),
        integer_fields_(std::move(integer_fields)) {}

  // The serial number of the view whose fetch produced this record; 0 for a created record.
  std::uint64_t fetched_from() const { return fetched_from_; }

  // The libmsi record under the handle table's lock, for as long as this object lives.
  class Locked {
   public:
    explicit Locked(RecordObject& record)
        : lock_(HandleTable::Instance().mutex()), record_(record.record_.get()) {}
    LibmsiRecord* get() const { return record_; }

   private:
    std::lock_guard<std::mutex> lock_;
    LibmsiRecord* const record_;
  };

  // The record calls; callers hold the handle table's lock.
  UINT FieldCount();
  bool IsNull(UINT field);
  int Integer(UINT field);
  // MsiRecordGetStringW's copy of a field's text. The text of the field read
  // last is kept, so the usual length-then-text pair of calls fetches it once.
  UINT CopyFieldText(UINT field, LPWSTR buffer, LPDWORD size);
  UINT SetString(UINT field, const std::string& value);
  UINT SetInteger(UINT field, int value);

 private:
  bool IsIntegerField(UINT field) const {
    return integer_fields_ && field < integer_fields_->size() && (*integer_fields_)[field];
  }

  const GObjectPtr<LibmsiRecord> record_;
  const std::uint64_t fetched_from_;
  // A fetched record's field types, until a write may change them. libmsi
  // formats an integer field through printf; knowing the type, it is done here.
  std::shared_ptr<const IntegerFields> integer_fields_;
  std::unique_ptr<gchar, GFree> kept_text_;  // UTF-8, of kept_field_
  UINT kept_field_ = 0;
};

// The table, columns and primary keys of a single-table view, as needed to turn
// MsiViewModify into INSERT and DELETE statements.
struct ViewTarget {
  std::string table;
  std::vector<std::string> columns;
  std::vector<bool> string_columns;
  std::vector<std::size_t> key_fields;  // 1-based view fields holding the primary key
};

class ViewObject : public HandleObject {
 public:
  static constexpr HandleKind kKind = HandleKind::kView;
  ViewObject(std::shared_ptr<DatabaseObject> database, GObjectPtr<LibmsiQuery> query, std::string sql);
  ~ViewObject() override;

  // Callers hold database().mutex() around each of these; they take the handle table's lock inside it.
  const DatabaseObject& database() const { return *database_; }
  UINT Execute(std::shared_ptr<RecordObject> parameters);
  UINT Fetch(MSIHANDLE* record);
  UINT Insert(RecordObject& record);
  UINT Delete(RecordObject& record);

 private:
  UINT Rerun();  // executes again with the same parameters
  UINT ResolveTarget();
  std::shared_ptr<const IntegerFields> ReadIntegerFields();
  UINT RunStatement(const std::string& sql, LibmsiRecord* parameters);

  std::shared_ptr<DatabaseObject> database_;
  GObjectPtr<LibmsiQuery> query_;
  const std::string sql_;
  const std::uint64_t serial_;
  bool executed_ = false;
  bool at_end_ = false;                       // the last fetch found no more rows
  std::shared_ptr<RecordObject> parameters_;  // of the last execution, to run it again
  std::size_t fetched_ = 0;                   // rows fetched since the last execution
  std::unique_ptr<ViewTarget> target_;
  bool integer_fields_read_ = false;
  std::shared_ptr<const IntegerFields> integer_fields_;  // null when the column types are unknown
};

class SummaryInfoObject : public HandleObject {
 public:
  static constexpr HandleKind kKind = HandleKind::kSummaryInfo;
  SummaryInfoObject(std::shared_ptr<DatabaseObject> database, GObjectPtr<LibmsiSummaryInfo> summary)
      : HandleObject(kKind), database_(std::move(database)), summary_(std::move(summary)) {}
  ~SummaryInfoObject() override {
    std::lock_guard<std::mutex> lock(database_->mutex());
    summary_.reset();
  }

  LibmsiSummaryInfo* get() const { return summary_.get(); }
  const DatabaseObject& database() const { return *database_; }

 private:
  std::shared_ptr<DatabaseObject> database_;
  GObjectPtr<LibmsiSummaryInfo> summary_;
};

// Copies `value` to a W function's buffer: the length (without terminator) goes
// to *size; ERROR_MORE_DATA when the buffer cannot hold value and terminator,
// after writing as much as fits.
UINT CopyToBuffer(const std::wstring& value, LPWSTR buffer, LPDWORD size);

// A record field's text through MsiRecordGetStringW; empty when it cannot be read.
std::wstring RecordFieldText(MSIHANDLE record, UINT field);

std::string Utf8FromWideZ(LPCWSTR text);

}  // namespace linux_msi
