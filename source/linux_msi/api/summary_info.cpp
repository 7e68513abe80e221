// Summary-information functions.
#include "api/boundary.h"
#include "api/msi_objects.h"
#include "msidefs.h"
#include "ovra/strings.h"

using namespace linux_msi;

namespace {

constexpr UINT kPropertyCount = 20;

}  // namespace

extern "C" {

UINT WINAPI MsiGetSummaryInformationW(MSIHANDLE hDatabase, LPCWSTR szDatabasePath, UINT uiUpdateCount,
                                      MSIHANDLE* phSummaryInfo) {
  return Guarded(ERROR_FUNCTION_FAILED, [&]() -> UINT {
    if (!phSummaryInfo) {
      return ERROR_INVALID_PARAMETER;
    }
    std::shared_ptr<DatabaseObject> database;
    MSIHANDLE opened = 0;
    if (szDatabasePath && szDatabasePath[0]) {
      const UINT result =
          MsiOpenDatabaseW(szDatabasePath, uiUpdateCount ? MSIDBOPEN_TRANSACT : MSIDBOPEN_READONLY, &opened);
      if (result != ERROR_SUCCESS) {
        return result;
      }
      // The summary object keeps the database; the handle goes whatever happens.
      struct CloseOnExit {
        MSIHANDLE handle;
        ~CloseOnExit() { MsiCloseHandle(handle); }
      } close_opened{opened};
      database = HandleTable::Instance().Find<DatabaseObject>(opened);
    } else {
      database = HandleTable::Instance().Find<DatabaseObject>(hDatabase);
    }
    if (!database) {
      return ERROR_INVALID_HANDLE;
    }
    ErrorSlot error;
    GObjectPtr<LibmsiSummaryInfo> summary;
    {
      std::lock_guard<std::mutex> lock(database->mutex());
      summary.reset(libmsi_summary_info_new(database->get(), uiUpdateCount, error.out()));
    }
    if (!summary) {
      return error.Code(ERROR_FUNCTION_FAILED);
    }
    const MSIHANDLE handle =
        HandleTable::Instance().Add(std::make_shared<SummaryInfoObject>(std::move(database), std::move(summary)));
    if (handle == 0) {
      return ERROR_NOT_ENOUGH_MEMORY;
    }
    *phSummaryInfo = handle;
    return ERROR_SUCCESS;
  });
}

UINT WINAPI MsiSummaryInfoGetPropertyW(MSIHANDLE hSummaryInfo, UINT uiProperty, PUINT puiDataType, LPINT piValue,
                                       FILETIME* pftValue, LPWSTR szValueBuf, LPDWORD pcchValueBuf) {
  return Guarded(ERROR_FUNCTION_FAILED, [&]() -> UINT {
    if (szValueBuf && !pcchValueBuf) {
      return ERROR_INVALID_PARAMETER;
    }
    if (uiProperty >= kPropertyCount) {
      if (puiDataType) {
        *puiDataType = VT_EMPTY;
      }
      return ERROR_UNKNOWN_PROPERTY;
    }
    auto summary = HandleTable::Instance().Find<SummaryInfoObject>(hSummaryInfo);
    if (!summary) {
      return ERROR_INVALID_HANDLE;
    }
    std::lock_guard<std::mutex> lock(summary->database().mutex());
    const auto property = static_cast<LibmsiProperty>(uiProperty);
    // Each getter answers only for its own type: ask for the type first.
    const LibmsiPropertyType type = libmsi_summary_info_get_property_type(summary->get(), property, nullptr);
    UINT data_type = VT_EMPTY;
    UINT result = ERROR_SUCCESS;
    switch (type) {
      case LIBMSI_PROPERTY_TYPE_INT:
        data_type = uiProperty == PID_CODEPAGE ? VT_I2 : VT_I4;
        if (piValue) {
          *piValue = libmsi_summary_info_get_int(summary->get(), property, nullptr);
        }
        break;
      case LIBMSI_PROPERTY_TYPE_FILETIME:
        data_type = VT_FILETIME;
        if (pftValue) {
          const guint64 time = libmsi_summary_info_get_filetime(summary->get(), property, nullptr);
          pftValue->dwLowDateTime = static_cast<DWORD>(time & 0xFFFFFFFFu);
          pftValue->dwHighDateTime = static_cast<DWORD>(time >> 32);
        }
        break;
      case LIBMSI_PROPERTY_TYPE_STRING: {
        data_type = VT_LPSTR;
        if (!pcchValueBuf) {
          break;  // neither buffer nor size: the type alone
        }
        const gchar* text = libmsi_summary_info_get_string(summary->get(), property, nullptr);
        const std::wstring value = ovra::WideFromUtf8(text ? text : "");
        if (szValueBuf) {
          result = CopyToBuffer(value, szValueBuf, pcchValueBuf);
        } else {
          // Without a buffer only the length is reported, as for a buffer of *pcchValueBuf.
          result = value.size() >= *pcchValueBuf ? ERROR_MORE_DATA : ERROR_SUCCESS;
          *pcchValueBuf = static_cast<DWORD>(value.size());
        }
        break;
      }
      case LIBMSI_PROPERTY_TYPE_EMPTY:
      default:
        break;
    }
    if (puiDataType) {
      *puiDataType = data_type;
    }
    return result;
  });
}

}  // extern "C"
