// MsiViewExecute, MsiViewFetch and MsiViewModify.
//
// libmsi has no row modification call, so MsiViewModify runs INSERT and DELETE
// statements on the view's table, built from the view's columns and the
// table's primary keys.
#include <atomic>
#include <cctype>
#include <optional>

#include "api/boundary.h"
#include "api/msi_objects.h"

namespace linux_msi {
namespace {

std::atomic<std::uint64_t> next_view_serial{1};

// Splits SQL text into identifiers, quoted names, string literals and symbols.
std::vector<std::string> Tokenize(const std::string& sql) {
  std::vector<std::string> tokens;
  std::size_t i = 0;
  while (i < sql.size()) {
    const char c = sql[i];
    if (std::isspace(static_cast<unsigned char>(c))) {
      ++i;
    } else if (c == '`' || c == '\'') {
      const std::size_t end = sql.find(c, i + 1);
      const std::size_t stop = end == std::string::npos ? sql.size() : end + 1;
      tokens.push_back(sql.substr(i, stop - i));
      i = stop;
    } else if (std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '.') {
      const std::size_t start = i;
      while (i < sql.size() && (std::isalnum(static_cast<unsigned char>(sql[i])) || sql[i] == '_' || sql[i] == '.')) {
        ++i;
      }
      tokens.push_back(sql.substr(start, i - start));
    } else {
      tokens.push_back(std::string(1, c));
      ++i;
    }
  }
  return tokens;
}

bool EqualsNoCase(const std::string& a, const char* b) {
  std::size_t i = 0;
  for (; i < a.size() && b[i]; ++i) {
    if (std::toupper(static_cast<unsigned char>(a[i])) != b[i]) {
      return false;
    }
  }
  return i == a.size() && !b[i];
}

// The one table of a SELECT, or empty for other statements and for joins.
std::string SelectedTable(const std::string& sql) {
  const std::vector<std::string> tokens = Tokenize(sql);
  if (tokens.empty() || !EqualsNoCase(tokens[0], "SELECT")) {
    return {};
  }
  for (std::size_t i = 1; i + 1 < tokens.size(); ++i) {
    if (EqualsNoCase(tokens[i], "FROM")) {
      if (i + 2 < tokens.size() && tokens[i + 2] == ",") {
        return {};
      }
      std::string table = tokens[i + 1];
      if (table.size() >= 2 && table.front() == '`') {
        table = table.substr(1, table.size() - 2);
      }
      return table.find_first_of("'`.") == std::string::npos ? table : std::string();
    }
  }
  return {};
}

std::string Quoted(const std::string& name) { return "`" + name + "`"; }

// libmsi's column type letters: i and j (I, J when nullable) are integers.
bool IsIntegerType(const std::string& type) {
  const char kind = type.empty() ? 's' : static_cast<char>(std::tolower(static_cast<unsigned char>(type[0])));
  return kind == 'i' || kind == 'j';
}

std::vector<std::string> RecordStrings(LibmsiRecord* record) {
  std::vector<std::string> values;
  const guint count = libmsi_record_get_field_count(record);
  for (guint field = 1; field <= count; ++field) {
    gchar* text = libmsi_record_get_string(record, field);
    values.emplace_back(text ? text : "");
    g_free(text);
  }
  return values;
}

}  // namespace

ViewObject::ViewObject(std::shared_ptr<DatabaseObject> database, GObjectPtr<LibmsiQuery> query, std::string sql)
    : HandleObject(kKind),
      database_(std::move(database)),
      query_(std::move(query)),
      sql_(std::move(sql)),
      serial_(next_view_serial++) {}

ViewObject::~ViewObject() {
  std::lock_guard<std::mutex> lock(database_->mutex());
  parameters_.reset();
  query_.reset();
}

UINT ViewObject::Execute(std::shared_ptr<RecordObject> parameters) {
  executed_ = false;
  at_end_ = false;
  fetched_ = 0;
  ErrorSlot error;
  {
    std::optional<RecordObject::Locked> locked;
    if (parameters) {
      locked.emplace(*parameters);
    }
    if (!libmsi_query_execute(query_.get(), locked ? locked->get() : nullptr, error.out())) {
      return error.Code(ERROR_FUNCTION_FAILED);
    }
  }
  parameters_ = std::move(parameters);
  executed_ = true;
  return ERROR_SUCCESS;
}

UINT ViewObject::Rerun() { return Execute(parameters_); }

UINT ViewObject::Fetch(MSIHANDLE* handle) {
  if (!executed_) {
    return ERROR_FUNCTION_FAILED;
  }
  if (at_end_) {
    // As with msi.dll, the fetch after the end of the rows starts over.
    if (const UINT result = Rerun()) {
      return result;
    }
  }
  ErrorSlot error;
  GObjectPtr<LibmsiRecord> record(libmsi_query_fetch(query_.get(), error.out()));
  if (!record) {
    // libmsi ends the rows with no error set.
    if (error.get()) {
      return error.Code(ERROR_FUNCTION_FAILED);
    }
    at_end_ = true;
    return ERROR_NO_MORE_ITEMS;
  }
  const MSIHANDLE result = HandleTable::Instance().Add(
      std::make_shared<RecordObject>(std::move(record), serial_, ReadIntegerFields()));
  if (result == 0) {
    return ERROR_NOT_ENOUGH_MEMORY;
  }
  ++fetched_;
  *handle = result;
  return ERROR_SUCCESS;
}

std::shared_ptr<const IntegerFields> ViewObject::ReadIntegerFields() {
  if (!integer_fields_read_) {
    integer_fields_read_ = true;
    GObjectPtr<LibmsiRecord> types = ColumnInfo(query_.get(), LIBMSI_COL_INFO_TYPES);
    if (types) {
      auto fields = std::make_shared<IntegerFields>(1, false);  // field 0 is never an integer column
      for (const std::string& type : RecordStrings(types.get())) {
        fields->push_back(IsIntegerType(type));
      }
      integer_fields_ = std::move(fields);
    }
  }
  return integer_fields_;
}

UINT ViewObject::ResolveTarget() {
  if (target_) {
    return ERROR_SUCCESS;
  }
  auto target = std::make_unique<ViewTarget>();
  target->table = SelectedTable(sql_);
  if (target->table.empty()) {
    return ERROR_FUNCTION_FAILED;
  }
  GObjectPtr<LibmsiRecord> names = ColumnInfo(query_.get(), LIBMSI_COL_INFO_NAMES);
  GObjectPtr<LibmsiRecord> types = ColumnInfo(query_.get(), LIBMSI_COL_INFO_TYPES);
  if (!names || !types) {
    return ERROR_FUNCTION_FAILED;
  }
  target->columns = RecordStrings(names.get());
  for (const std::string& type : RecordStrings(types.get())) {
    target->string_columns.push_back(!IsIntegerType(type));
  }
  GObjectPtr<LibmsiRecord> keys = PrimaryKeys(database_->get(), target->table.c_str());
  if (!keys) {
    return ERROR_FUNCTION_FAILED;
  }
  for (const std::string& key : RecordStrings(keys.get())) {
    std::size_t field = 0;
    for (std::size_t i = 0; i < target->columns.size(); ++i) {
      if (target->columns[i] == key) {
        field = i + 1;
        break;
      }
    }
    if (field == 0) {
      target->key_fields.clear();  // without every key column no row can be named
      break;
    }
    target->key_fields.push_back(field);
  }
  target_ = std::move(target);
  return ERROR_SUCCESS;
}

UINT ViewObject::RunStatement(const std::string& sql, LibmsiRecord* parameters) {
  ErrorSlot error;
  GObjectPtr<LibmsiQuery> statement(libmsi_query_new(database_->get(), sql.c_str(), error.out()));
  if (!statement) {
    return ERROR_FUNCTION_FAILED;
  }
  if (!libmsi_query_execute(statement.get(), parameters, error.out())) {
    return error.Code(ERROR_FUNCTION_FAILED);
  }
  return ERROR_SUCCESS;
}

UINT ViewObject::Insert(RecordObject& record) {
  if (database_->read_only()) {
    return ERROR_FUNCTION_FAILED;
  }
  if (const UINT result = ResolveTarget()) {
    return result;
  }
  const std::vector<std::string>& columns = target_->columns;
  std::string names;
  std::string markers;
  for (const std::string& column : columns) {
    names += (names.empty() ? "" : ",") + Quoted(column);
    markers += markers.empty() ? "?" : ",?";
  }
  const RecordObject::Locked row(record);
  if (libmsi_record_get_field_count(row.get()) < columns.size()) {
    return ERROR_FUNCTION_FAILED;
  }
  return RunStatement("INSERT INTO " + Quoted(target_->table) + " (" + names + ") VALUES (" + markers + ")",
                      row.get());
}

UINT ViewObject::Delete(RecordObject& record) {
  if (record.fetched_from() != serial_ || database_->read_only()) {
    return ERROR_FUNCTION_FAILED;
  }
  if (const UINT result = ResolveTarget()) {
    return result;
  }
  const std::vector<std::size_t>& keys = target_->key_fields;
  if (keys.empty()) {
    return ERROR_FUNCTION_FAILED;
  }
  GObjectPtr<LibmsiRecord> key_values(libmsi_record_new(static_cast<guint>(keys.size())));
  std::string condition;
  {
    const RecordObject::Locked row(record);
    for (std::size_t i = 0; i < keys.size(); ++i) {
      const guint field = static_cast<guint>(keys[i]);
      const guint slot = static_cast<guint>(i + 1);
      if (target_->string_columns[keys[i] - 1]) {
        gchar* text = libmsi_record_get_string(row.get(), field);
        libmsi_record_set_string(key_values.get(), slot, text);
        g_free(text);
      } else {
        libmsi_record_set_int(key_values.get(), slot, libmsi_record_get_int(row.get(), field));
      }
      condition += (i == 0 ? "" : " AND ") + Quoted(target_->columns[keys[i] - 1]) + " = ?";
    }
  }
  const std::string table = Quoted(target_->table);

  // A row that is gone already cannot be deleted again.
  GObjectPtr<LibmsiQuery> lookup(
      libmsi_query_new(database_->get(), ("SELECT * FROM " + table + " WHERE " + condition).c_str(), nullptr));
  if (!lookup || !libmsi_query_execute(lookup.get(), key_values.get(), nullptr)) {
    return ERROR_FUNCTION_FAILED;
  }
  GObjectPtr<LibmsiRecord> existing(libmsi_query_fetch(lookup.get(), nullptr));
  if (!existing) {
    return ERROR_FUNCTION_FAILED;
  }
  lookup.reset();

  if (const UINT result = RunStatement("DELETE FROM " + table + " WHERE " + condition, key_values.get())) {
    return result;
  }

  // The deleted row lay before the cursor: run the view again and skip the rows
  // that were fetched, less the deleted one, so the next fetch goes on in place.
  const std::size_t skip = fetched_ > 0 ? fetched_ - 1 : 0;
  if (executed_ && !at_end_) {
    if (const UINT result = Rerun()) {
      return result;
    }
    for (std::size_t i = 0; i < skip; ++i) {
      GObjectPtr<LibmsiRecord> row(libmsi_query_fetch(query_.get(), nullptr));
      if (!row) {
        break;
      }
    }
    fetched_ = skip;
  }
  return ERROR_SUCCESS;
}

}  // namespace linux_msi

using namespace linux_msi;

extern "C" {

UINT WINAPI MsiViewExecute(MSIHANDLE hView, MSIHANDLE hRecord) {
  return Guarded(ERROR_FUNCTION_FAILED, [&]() -> UINT {
    auto view = HandleTable::Instance().Find<ViewObject>(hView);
    if (!view) {
      return ERROR_INVALID_HANDLE;
    }
    std::shared_ptr<RecordObject> parameters;
    if (hRecord != 0) {
      parameters = HandleTable::Instance().Find<RecordObject>(hRecord);
      if (!parameters) {
        return ERROR_INVALID_HANDLE;
      }
    }
    std::lock_guard<std::mutex> lock(view->database().mutex());
    return view->Execute(std::move(parameters));
  });
}

UINT WINAPI MsiViewFetch(MSIHANDLE hView, MSIHANDLE* phRecord) {
  return Guarded(ERROR_FUNCTION_FAILED, [&]() -> UINT {
    if (!phRecord) {
      return ERROR_INVALID_PARAMETER;
    }
    *phRecord = 0;
    auto view = HandleTable::Instance().Find<ViewObject>(hView);
    if (!view) {
      return ERROR_INVALID_HANDLE;
    }
    std::lock_guard<std::mutex> lock(view->database().mutex());
    return view->Fetch(phRecord);
  });
}

UINT WINAPI MsiViewModify(MSIHANDLE hView, MSIMODIFY eModifyMode, MSIHANDLE hRecord) {
  return Guarded(ERROR_FUNCTION_FAILED, [&]() -> UINT {
    if (eModifyMode < MSIMODIFY_SEEK || eModifyMode > MSIMODIFY_VALIDATE_DELETE) {
      return ERROR_INVALID_PARAMETER;
    }
    auto view = HandleTable::Instance().Find<ViewObject>(hView);
    auto record = HandleTable::Instance().Find<RecordObject>(hRecord);
    if (!view || !record) {
      return ERROR_INVALID_HANDLE;
    }
    std::lock_guard<std::mutex> lock(view->database().mutex());
    switch (eModifyMode) {
      case MSIMODIFY_INSERT:
        return view->Insert(*record);
      case MSIMODIFY_DELETE:
        return view->Delete(*record);
      default:
        return ERROR_CALL_NOT_IMPLEMENTED;
    }
  });
}

}  // extern "C"
