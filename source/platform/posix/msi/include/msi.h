// Windows Installer API, handle part (msi.h), for systems without msi.dll.
// Names, types and codes are those of the Windows SDK, so that code written for
// msi.dll builds and behaves the same here.
#pragma once

#include "windows_types.h"

// A handle to a database, view, record or summary-information object; 0 is no
// handle. Values are checked on every call: a closed, stale or foreign handle
// gives ERROR_INVALID_HANDLE, and a closed handle's value is never handed out again.
typedef unsigned long MSIHANDLE;

#ifdef __cplusplus
extern "C" {
#endif

// Closes one handle: ERROR_SUCCESS (also for 0), or ERROR_INVALID_HANDLE.
UINT WINAPI MsiCloseHandle(MSIHANDLE hAny);
// Closes every handle of the process; returns how many were open.
UINT WINAPI MsiCloseAllHandles(void);

#ifdef __cplusplus
}
#endif
