// Record functions.
#include "msi_objects.h"
#include "ovra/strings.h"

using namespace msi_posix;

namespace {

constexpr UINT kMaxRecordFields = 65535;

std::shared_ptr<RecordObject> FindRecord(MSIHANDLE handle) {
  return HandleTable::Instance().Find<RecordObject>(handle);
}

}  // namespace

namespace msi_posix {

UINT RecordObject::FieldCount() {
  std::lock_guard<std::mutex> lock(mutex_);
  return libmsi_record_get_field_count(record_.get());
}

bool RecordObject::IsNull(UINT field) {
  std::lock_guard<std::mutex> lock(mutex_);
  return libmsi_record_is_null(record_.get(), field);
}

int RecordObject::Integer(UINT field) {
  std::lock_guard<std::mutex> lock(mutex_);
  return libmsi_record_get_int(record_.get(), field);
}

UINT RecordObject::CopyFieldText(UINT field, LPWSTR buffer, LPDWORD size) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!text_kept_ || text_field_ != field) {
    gchar* text = libmsi_record_get_string(record_.get(), field);
    if (!text) {
      return ERROR_INVALID_DATATYPE;  // a stream field has no text
    }
    text_ = ovra::WideFromUtf8(text);
    g_free(text);
    text_field_ = field;
    text_kept_ = true;
  }
  return CopyToBuffer(text_, buffer, size);
}

UINT RecordObject::SetString(UINT field, const std::string& value) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (field > libmsi_record_get_field_count(record_.get())) {
    return ERROR_INVALID_PARAMETER;
  }
  text_kept_ = false;
  return libmsi_record_set_string(record_.get(), field, value.c_str()) ? ERROR_SUCCESS : ERROR_FUNCTION_FAILED;
}

UINT RecordObject::SetInteger(UINT field, int value) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (field > libmsi_record_get_field_count(record_.get())) {
    return ERROR_INVALID_PARAMETER;
  }
  text_kept_ = false;
  return libmsi_record_set_int(record_.get(), field, value) ? ERROR_SUCCESS : ERROR_FUNCTION_FAILED;
}

}  // namespace msi_posix

extern "C" {

MSIHANDLE WINAPI MsiCreateRecord(UINT cParams) {
  if (cParams > kMaxRecordFields) {
    return 0;
  }
  GObjectPtr<LibmsiRecord> record(libmsi_record_new(cParams));
  if (!record) {
    return 0;
  }
  return HandleTable::Instance().Add(std::make_shared<RecordObject>(std::move(record)));
}

UINT WINAPI MsiRecordGetFieldCount(MSIHANDLE hRecord) {
  auto record = FindRecord(hRecord);
  return record ? record->FieldCount() : static_cast<UINT>(-1);
}

BOOL WINAPI MsiRecordIsNull(MSIHANDLE hRecord, UINT iField) {
  auto record = FindRecord(hRecord);
  return record && record->IsNull(iField) ? TRUE : FALSE;
}

UINT WINAPI MsiRecordGetStringW(MSIHANDLE hRecord, UINT iField, LPWSTR szValueBuf, LPDWORD pcchValueBuf) {
  auto record = FindRecord(hRecord);
  if (!record) {
    return ERROR_INVALID_HANDLE;
  }
  if (!pcchValueBuf) {
    return ERROR_INVALID_PARAMETER;
  }
  return record->CopyFieldText(iField, szValueBuf, pcchValueBuf);
}

int WINAPI MsiRecordGetInteger(MSIHANDLE hRecord, UINT iField) {
  auto record = FindRecord(hRecord);
  return record ? record->Integer(iField) : static_cast<int>(MSI_NULL_INTEGER);
}

UINT WINAPI MsiRecordSetStringW(MSIHANDLE hRecord, UINT iField, LPCWSTR szValue) {
  auto record = FindRecord(hRecord);
  if (!record) {
    return ERROR_INVALID_HANDLE;
  }
  return record->SetString(iField, Utf8FromWideZ(szValue));
}

UINT WINAPI MsiRecordSetInteger(MSIHANDLE hRecord, UINT iField, int iValue) {
  auto record = FindRecord(hRecord);
  if (!record) {
    return ERROR_INVALID_HANDLE;
  }
  return record->SetInteger(iField, iValue);
}

}  // extern "C"
