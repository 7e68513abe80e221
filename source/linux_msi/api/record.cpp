// Record functions.
#include <charconv>
#include <iterator>
#include <string_view>

#include "api/boundary.h"
#include "api/msi_objects.h"
#include "ovra/strings.h"

using namespace linux_msi;

namespace {

constexpr UINT kMaxRecordFields = 65535;

}  // namespace

namespace linux_msi {

UINT RecordObject::FieldCount() {
  return libmsi_record_get_field_count(record_.get());
}

bool RecordObject::IsNull(UINT field) {
  return libmsi_record_is_null(record_.get(), field);
}

int RecordObject::Integer(UINT field) {
  return libmsi_record_get_int(record_.get(), field);
}

UINT RecordObject::CopyFieldText(UINT field, LPWSTR buffer, LPDWORD size) {
  char digits[16];
  std::string_view text;
  if (IsIntegerField(field)) {
    // libmsi's own text for an integer field is printf's "%d".
    if (!libmsi_record_is_null(record_.get(), field)) {
      const int value = libmsi_record_get_int(record_.get(), field);
      text = std::string_view(digits, std::to_chars(digits, std::end(digits), value).ptr - digits);
    }
  } else {
    if (!kept_text_ || kept_field_ != field) {
      gchar* kept = libmsi_record_get_string(record_.get(), field);
      if (!kept) {
        return ERROR_INVALID_DATATYPE;  // a stream field has no text
      }
      kept_text_.reset(kept);
      kept_field_ = field;
    }
    text = kept_text_.get();
  }
  // Decoded straight into the caller's buffer; the rules are CopyToBuffer's.
  const std::size_t capacity = buffer ? *size : 0;
  const std::size_t length = ovra::WideFromUtf8(text, buffer, capacity);
  UINT result = ERROR_SUCCESS;
  if (buffer) {
    if (length < capacity) {
      buffer[length] = L'\0';
    } else {
      if (capacity > 0) {
        buffer[capacity - 1] = L'\0';
      }
      result = ERROR_MORE_DATA;
    }
  }
  *size = static_cast<DWORD>(length);
  return result;
}

UINT RecordObject::SetString(UINT field, const std::string& value) {
  if (field > libmsi_record_get_field_count(record_.get())) {
    return ERROR_INVALID_PARAMETER;
  }
  kept_text_.reset();
  integer_fields_.reset();
  return libmsi_record_set_string(record_.get(), field, value.c_str()) ? ERROR_SUCCESS : ERROR_FUNCTION_FAILED;
}

UINT RecordObject::SetInteger(UINT field, int value) {
  if (field > libmsi_record_get_field_count(record_.get())) {
    return ERROR_INVALID_PARAMETER;
  }
  kept_text_.reset();
  integer_fields_.reset();
  return libmsi_record_set_int(record_.get(), field, value) ? ERROR_SUCCESS : ERROR_FUNCTION_FAILED;
}

}  // namespace linux_msi

extern "C" {

MSIHANDLE WINAPI MsiCreateRecord(UINT cParams) {
  return Guarded<MSIHANDLE>(0, [&]() -> MSIHANDLE {
    if (cParams > kMaxRecordFields) {
      return 0;
    }
    GObjectPtr<LibmsiRecord> record(libmsi_record_new(cParams));
    if (!record) {
      return 0;
    }
    return HandleTable::Instance().Add(std::make_shared<RecordObject>(std::move(record)));
  });
}

UINT WINAPI MsiRecordGetFieldCount(MSIHANDLE hRecord) {
  constexpr UINT kFailure = static_cast<UINT>(-1);
  return Guarded(kFailure, [&] {
    return HandleTable::Instance().WithLocked<RecordObject>(
        hRecord, kFailure, [](RecordObject& record) { return record.FieldCount(); });
  });
}

BOOL WINAPI MsiRecordIsNull(MSIHANDLE hRecord, UINT iField) {
  return Guarded<BOOL>(FALSE, [&] {
    return HandleTable::Instance().WithLocked<RecordObject>(
        hRecord, FALSE, [&](RecordObject& record) { return record.IsNull(iField) ? TRUE : FALSE; });
  });
}

UINT WINAPI MsiRecordGetStringW(MSIHANDLE hRecord, UINT iField, LPWSTR szValueBuf, LPDWORD pcchValueBuf) {
  return Guarded(ERROR_FUNCTION_FAILED, [&]() -> UINT {
    if (!pcchValueBuf) {
      return ERROR_INVALID_PARAMETER;
    }
    return HandleTable::Instance().WithLocked<RecordObject>(hRecord, ERROR_INVALID_HANDLE, [&](RecordObject& record) {
      return record.CopyFieldText(iField, szValueBuf, pcchValueBuf);
    });
  });
}

int WINAPI MsiRecordGetInteger(MSIHANDLE hRecord, UINT iField) {
  constexpr int kFailure = static_cast<int>(MSI_NULL_INTEGER);
  return Guarded(kFailure, [&] {
    return HandleTable::Instance().WithLocked<RecordObject>(
        hRecord, kFailure, [&](RecordObject& record) { return record.Integer(iField); });
  });
}

UINT WINAPI MsiRecordSetStringW(MSIHANDLE hRecord, UINT iField, LPCWSTR szValue) {
  return Guarded(ERROR_FUNCTION_FAILED, [&] {
    const std::string value = Utf8FromWideZ(szValue);  // null, like "", makes the field null
    return HandleTable::Instance().WithLocked<RecordObject>(
        hRecord, ERROR_INVALID_HANDLE, [&](RecordObject& record) { return record.SetString(iField, value); });
  });
}

UINT WINAPI MsiRecordSetInteger(MSIHANDLE hRecord, UINT iField, int iValue) {
  return Guarded(ERROR_FUNCTION_FAILED, [&] {
    return HandleTable::Instance().WithLocked<RecordObject>(
        hRecord, ERROR_INVALID_HANDLE, [&](RecordObject& record) { return record.SetInteger(iField, iValue); });
  });
}

}  // extern "C"
