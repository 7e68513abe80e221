#include <algorithm>

#include "api/msi_objects.h"
#include "ovra/strings.h"

namespace linux_msi {

UINT WindowsErrorFromLibmsi(int code) {
  switch (code) {
    case LIBMSI_RESULT_SUCCESS:
      return ERROR_SUCCESS;
    case LIBMSI_RESULT_ACCESS_DENIED:
      return ERROR_ACCESS_DENIED;
    case LIBMSI_RESULT_INVALID_HANDLE:
      return ERROR_INVALID_HANDLE;
    case LIBMSI_RESULT_NOT_ENOUGH_MEMORY:
      return ERROR_NOT_ENOUGH_MEMORY;
    case LIBMSI_RESULT_INVALID_DATA:
      return ERROR_INVALID_DATA;
    case LIBMSI_RESULT_OUTOFMEMORY:
      return ERROR_OUTOFMEMORY;
    case LIBMSI_RESULT_INVALID_PARAMETER:
      return ERROR_INVALID_PARAMETER;
    case LIBMSI_RESULT_OPEN_FAILED:
      return ERROR_OPEN_FAILED;
    case LIBMSI_RESULT_CALL_NOT_IMPLEMENTED:
      return ERROR_CALL_NOT_IMPLEMENTED;
    case LIBMSI_RESULT_MORE_DATA:
      return ERROR_MORE_DATA;
    case LIBMSI_RESULT_UNKNOWN_PROPERTY:
      return ERROR_UNKNOWN_PROPERTY;
    case LIBMSI_RESULT_BAD_QUERY_SYNTAX:
      return ERROR_BAD_QUERY_SYNTAX;
    case LIBMSI_RESULT_INVALID_FIELD:
      return ERROR_INVALID_FIELD;
    case LIBMSI_RESULT_INVALID_TABLE:
      return ERROR_INVALID_TABLE;
    case LIBMSI_RESULT_DATATYPE_MISMATCH:
      return ERROR_DATATYPE_MISMATCH;
    case LIBMSI_RESULT_INVALID_DATATYPE:
      return ERROR_INVALID_DATATYPE;
    default:
      return ERROR_FUNCTION_FAILED;
  }
}

GObjectPtr<LibmsiRecord> ColumnInfo(LibmsiQuery* query, LibmsiColInfo info) {
  ErrorSlot error;
  LibmsiRecord* record = libmsi_query_get_column_info(query, info, error.out());
  return GObjectPtr<LibmsiRecord>(error.get() ? nullptr : record);
}

GObjectPtr<LibmsiRecord> PrimaryKeys(LibmsiDatabase* database, const char* table) {
  ErrorSlot error;
  LibmsiRecord* record = libmsi_database_get_primary_keys(database, table, error.out());
  return GObjectPtr<LibmsiRecord>(error.get() ? nullptr : record);
}

UINT CopyToBuffer(const std::wstring& value, LPWSTR buffer, LPDWORD size) {
  const DWORD length = static_cast<DWORD>(value.size());
  UINT result = ERROR_SUCCESS;
  if (buffer) {
    if (length < *size) {
      std::copy(value.begin(), value.end(), buffer);
      buffer[length] = L'\0';
    } else {
      if (*size > 0) {
        std::copy_n(value.begin(), *size - 1, buffer);
        buffer[*size - 1] = L'\0';
      }
      result = ERROR_MORE_DATA;
    }
  }
  *size = length;
  return result;
}

std::wstring RecordFieldText(MSIHANDLE record, UINT field) {
  DWORD size = 0;
  if (MsiRecordGetStringW(record, field, nullptr, &size) != ERROR_SUCCESS) {
    return {};
  }
  std::wstring text(size + 1, L'\0');
  ++size;
  MsiRecordGetStringW(record, field, &text[0], &size);
  text.resize(size);
  return text;
}

std::string Utf8FromWideZ(LPCWSTR text) { return ovra::Utf8FromWide(text ? std::wstring(text) : std::wstring()); }

}  // namespace linux_msi
