// The objects behind the handles, each holding references to libmsi objects.
#pragma once

#include <libmsi.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "handle_table.h"
#include "msiquery.h"

namespace msi_posix {

struct GObjectUnref {
  void operator()(gpointer object) const { g_object_unref(object); }
};

template <typename T>
using GObjectPtr = std::unique_ptr<T, GObjectUnref>;

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

class RecordObject : public HandleObject {
 public:
  static constexpr HandleKind kKind = HandleKind::kRecord;
  explicit RecordObject(GObjectPtr<LibmsiRecord> record, std::uint64_t fetched_from = 0)
      : HandleObject(kKind), record_(std::move(record)), fetched_from_(fetched_from) {}

  LibmsiRecord* get() const { return record_.get(); }
  // The serial number of the view whose fetch produced this record; 0 for a created record.
  std::uint64_t fetched_from() const { return fetched_from_; }

  // The record calls, each under the record's lock.
  UINT FieldCount();
  bool IsNull(UINT field);
  int Integer(UINT field);
  // MsiRecordGetStringW's copy of a field's text. The text of the field read
  // last is kept, so the usual length-then-text pair of calls converts it once.
  UINT CopyFieldText(UINT field, LPWSTR buffer, LPDWORD size);
  UINT SetString(UINT field, const std::string& value);
  UINT SetInteger(UINT field, int value);

 private:
  GObjectPtr<LibmsiRecord> record_;
  const std::uint64_t fetched_from_;
  std::mutex mutex_;
  bool text_kept_ = false;
  UINT text_field_ = 0;
  std::wstring text_;
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

  // Callers hold database().mutex() around each of these.
  const DatabaseObject& database() const { return *database_; }
  UINT Execute(LibmsiRecord* parameters);
  UINT Fetch(MSIHANDLE* record);
  UINT Insert(const RecordObject& record);
  UINT Delete(const RecordObject& record);

 private:
  UINT Rerun();  // executes again with the same parameters
  UINT ResolveTarget();
  UINT RunStatement(const std::string& sql, LibmsiRecord* parameters);

  std::shared_ptr<DatabaseObject> database_;
  GObjectPtr<LibmsiQuery> query_;
  const std::string sql_;
  const std::uint64_t serial_;
  bool executed_ = false;
  bool at_end_ = false;                  // the last fetch found no more rows
  GObjectPtr<LibmsiRecord> parameters_;  // of the last execution, to run it again after a delete
  std::size_t fetched_ = 0;              // rows fetched since the last execution
  std::unique_ptr<ViewTarget> target_;
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

std::string Utf8FromWideZ(LPCWSTR text);

}  // namespace msi_posix
