// The Windows base types, error codes and property-variant type codes that the
// Windows Installer headers use, sized as on Windows (32-bit DWORD, UINT, INT).
// Strings are wchar_t strings; wchar_t is 32 bits here, so one character of a
// W function's length is one code point.
#pragma once

// The API's enumerations take any int, as in C: a caller may pass a value outside
// the listed ones (which the functions refuse), so in C++ they get int as their base.
#ifdef __cplusplus
#define MSI_ENUM_BASE : int
#else
#define MSI_ENUM_BASE
#endif

#include <cstdint>

#ifndef WINAPI
#define WINAPI
#endif

typedef int BOOL;
typedef int INT;
typedef unsigned int UINT;
typedef std::uint32_t DWORD;
typedef UINT* PUINT;
typedef INT* LPINT;
typedef DWORD* LPDWORD;
typedef wchar_t WCHAR;
typedef WCHAR* LPWSTR;
typedef const WCHAR* LPCWSTR;
typedef LPCWSTR LPCTSTR;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

typedef struct _FILETIME {
  DWORD dwLowDateTime;
  DWORD dwHighDateTime;
} FILETIME, *PFILETIME, *LPFILETIME;

// Error codes (winerror.h).
#define ERROR_SUCCESS 0u
#define ERROR_ACCESS_DENIED 5u
#define ERROR_FILE_NOT_FOUND 2u
#define ERROR_INVALID_HANDLE 6u
#define ERROR_NOT_ENOUGH_MEMORY 8u
#define ERROR_INVALID_DATA 13u
#define ERROR_OUTOFMEMORY 14u
#define ERROR_INVALID_PARAMETER 87u
#define ERROR_OPEN_FAILED 110u
#define ERROR_CALL_NOT_IMPLEMENTED 120u
#define ERROR_MORE_DATA 234u
#define ERROR_NO_MORE_ITEMS 259u
#define ERROR_DIRECTORY 267u
#define ERROR_INSTALL_USEREXIT 1602u
#define ERROR_INSTALL_FAILURE 1603u
#define ERROR_UNKNOWN_PRODUCT 1605u
#define ERROR_UNKNOWN_FEATURE 1606u
#define ERROR_UNKNOWN_COMPONENT 1607u
#define ERROR_UNKNOWN_PROPERTY 1608u
#define ERROR_INVALID_HANDLE_STATE 1609u
#define ERROR_BAD_CONFIGURATION 1610u
#define ERROR_BAD_QUERY_SYNTAX 1615u
#define ERROR_INVALID_FIELD 1616u
#define ERROR_FUNCTION_FAILED 1627u
#define ERROR_INSTALL_ALREADY_RUNNING 1618u
#define ERROR_INSTALL_PACKAGE_OPEN_FAILED 1619u
#define ERROR_INSTALL_PACKAGE_INVALID 1620u
#define ERROR_FUNCTION_NOT_CALLED 1626u
#define ERROR_INVALID_TABLE 1628u
#define ERROR_DATATYPE_MISMATCH 1629u
#define ERROR_CREATE_FAILED 1631u
#define ERROR_INVALID_DATATYPE 1804u
#define ERROR_SUCCESS_REBOOT_REQUIRED 3010u

// Message-box answers (winuser.h), as external UI handlers return them.
#define IDOK 1
#define IDCANCEL 2
#define IDABORT 3
#define IDRETRY 4
#define IDIGNORE 5
#define IDYES 6
#define IDNO 7

// A window handle; there are no windows here, only null ones.
typedef void* HWND;
typedef void* LPVOID;

// Property-variant types reported by MsiSummaryInfoGetProperty (wtypes.h).
#define VT_EMPTY 0
#define VT_I2 2
#define VT_I4 3
#define VT_LPSTR 30
#define VT_FILETIME 64
