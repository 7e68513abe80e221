// Windows Installer API, database part (msiquery.h), for systems without
// msi.dll: databases, views, records, summary information, and open packages
// (install handles) with their properties, conditions, formatted text,
// actions and feature states. Only the wide
// (W) functions exist; the result codes and buffer rules are msi.dll's:
// string lengths are in characters without the terminator, a null integer
// field reads as MSI_NULL_INTEGER, the end of a view's rows is
// ERROR_NO_MORE_ITEMS.
#pragma once

#include "msi.h"

#define MSI_NULL_INTEGER 0x80000000

// Persist modes of MsiOpenDatabaseW. Any other pointer names an output file
// that a commit writes. A writable database is written only by MsiDatabaseCommit;
// closed without a commit, the package file stays as it was.
#define MSIDBOPEN_READONLY (LPCTSTR)0
#define MSIDBOPEN_TRANSACT (LPCTSTR)1
#define MSIDBOPEN_DIRECT (LPCTSTR)2
#define MSIDBOPEN_CREATE (LPCTSTR)3
#define MSIDBOPEN_CREATEDIRECT (LPCTSTR)4
#define MSIDBOPEN_PATCHFILE 32 / sizeof(*MSIDBOPEN_READONLY)

// Modes of MsiViewModify. INSERT and DELETE are implemented; the other modes
// return ERROR_CALL_NOT_IMPLEMENTED.
typedef enum tagMSIMODIFY MSI_ENUM_BASE {
  MSIMODIFY_SEEK = -1,
  MSIMODIFY_REFRESH = 0,
  MSIMODIFY_INSERT = 1,
  MSIMODIFY_UPDATE = 2,
  MSIMODIFY_ASSIGN = 3,
  MSIMODIFY_REPLACE = 4,
  MSIMODIFY_MERGE = 5,
  MSIMODIFY_DELETE = 6,
  MSIMODIFY_INSERT_TEMPORARY = 7,
  MSIMODIFY_VALIDATE = 8,
  MSIMODIFY_VALIDATE_NEW = 9,
  MSIMODIFY_VALIDATE_FIELD = 10,
  MSIMODIFY_VALIDATE_DELETE = 11
} MSIMODIFY;

typedef enum tagMSICONDITION MSI_ENUM_BASE {
  MSICONDITION_FALSE = 0,
  MSICONDITION_TRUE = 1,
  MSICONDITION_NONE = 2,
  MSICONDITION_ERROR = 3
} MSICONDITION;

#ifdef __cplusplus
extern "C" {
#endif

// Opens a package. Missing or unreadable files (not a package, truncated,
// empty) give ERROR_OPEN_FAILED; a database that cannot be created gives
// ERROR_CREATE_FAILED.
UINT WINAPI MsiOpenDatabaseW(LPCWSTR szDatabasePath, LPCWSTR szPersist, MSIHANDLE* phDatabase);
// Writes the changes of a writable database to its file (a no-op when read-only).
UINT WINAPI MsiDatabaseCommit(MSIHANDLE hDatabase);
// Prepares a query; a syntax error or a missing table gives ERROR_BAD_QUERY_SYNTAX.
UINT WINAPI MsiDatabaseOpenViewW(MSIHANDLE hDatabase, LPCWSTR szQuery, MSIHANDLE* phView);
// Runs a view; hRecord (or 0) supplies the values of the query's '?' markers.
UINT WINAPI MsiViewExecute(MSIHANDLE hView, MSIHANDLE hRecord);
// Next row of an executed view, or ERROR_NO_MORE_ITEMS after the last one.
UINT WINAPI MsiViewFetch(MSIHANDLE hView, MSIHANDLE* phRecord);
UINT WINAPI MsiViewModify(MSIHANDLE hView, MSIMODIFY eModifyMode, MSIHANDLE hRecord);

// A record of cParams fields (at most 65535), or 0.
MSIHANDLE WINAPI MsiCreateRecord(UINT cParams);
// Field count, or (UINT)-1 for an invalid handle.
UINT WINAPI MsiRecordGetFieldCount(MSIHANDLE hRecord);
// TRUE for a null field or one past the field count; FALSE for an invalid handle.
BOOL WINAPI MsiRecordIsNull(MSIHANDLE hRecord, UINT iField);
UINT WINAPI MsiRecordGetStringW(MSIHANDLE hRecord, UINT iField, LPWSTR szValueBuf, LPDWORD pcchValueBuf);
int WINAPI MsiRecordGetInteger(MSIHANDLE hRecord, UINT iField);
UINT WINAPI MsiRecordSetStringW(MSIHANDLE hRecord, UINT iField, LPCWSTR szValue);
UINT WINAPI MsiRecordSetInteger(MSIHANDLE hRecord, UINT iField, int iValue);

// Summary information of an open database (hDatabase), or of the package at
// szDatabasePath when that is given.
UINT WINAPI MsiGetSummaryInformationW(MSIHANDLE hDatabase, LPCWSTR szDatabasePath, UINT uiUpdateCount,
                                      MSIHANDLE* phSummaryInfo);
UINT WINAPI MsiSummaryInfoGetPropertyW(MSIHANDLE hSummaryInfo, UINT uiProperty, PUINT puiDataType, LPINT piValue,
                                       FILETIME* pftValue, LPWSTR szValueBuf, LPDWORD pcchValueBuf);

// Opens a package for its actions, without installing it: 0 and the install
// handle, ERROR_FILE_NOT_FOUND, or ERROR_INSTALL_PACKAGE_INVALID.
UINT WINAPI MsiOpenPackageW(LPCWSTR szPackagePath, MSIHANDLE* hProduct);
// The database of an install handle (a new handle to close), or 0.
MSIHANDLE WINAPI MsiGetActiveDatabase(MSIHANDLE hInstall);
UINT WINAPI MsiGetPropertyW(MSIHANDLE hInstall, LPCWSTR szName, LPWSTR szValueBuf, LPDWORD pcchValueBuf);
// An empty or null value removes the property.
UINT WINAPI MsiSetPropertyW(MSIHANDLE hInstall, LPCWSTR szName, LPCWSTR szValue);
MSICONDITION WINAPI MsiEvaluateConditionW(MSIHANDLE hInstall, LPCWSTR szCondition);
// Formats field 0 of the record as formatted text (hInstall may be 0: no
// properties then); a record with a null field 0 formats as "1: x 2: y ".
UINT WINAPI MsiFormatRecordW(MSIHANDLE hInstall, MSIHANDLE hRecord, LPWSTR szResultBuf, LPDWORD pcchResultBuf);
// Runs a standard or custom action; ERROR_FUNCTION_NOT_CALLED for an action
// the package does not know.
UINT WINAPI MsiDoActionW(MSIHANDLE hInstall, LPCWSTR szAction);
// The full path of a folder of the Directory table, known after CostFinalize;
// ERROR_DIRECTORY before that or for a folder the package does not have.
UINT WINAPI MsiGetTargetPathW(MSIHANDLE hInstall, LPCWSTR szFolder, LPWSTR szPathBuf, LPDWORD pcchPathBuf);
// A feature's installed and action states, known after CostFinalize.
UINT WINAPI MsiGetFeatureStateW(MSIHANDLE hInstall, LPCWSTR szFeature, INSTALLSTATE* piInstalled,
                                INSTALLSTATE* piAction);

#ifdef __cplusplus
}
#endif
