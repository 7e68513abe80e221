// Windows Installer API (msi.h), for systems without msi.dll: handles, and the
// installer engine's functions for installing, removing and querying products.
// Names, types, constants and result codes are those of the Windows SDK, so
// that code written for msi.dll builds and behaves the same here. Only the
// wide (W) functions exist.
#pragma once

#include "windows_types.h"

// A handle to a database, view, record, summary-information object or an open
// package; 0 is no handle. Values are checked on every call: a closed, stale or
// foreign handle gives ERROR_INVALID_HANDLE, and a closed handle's value is
// never handed out again.
typedef unsigned long MSIHANDLE;

typedef enum tagINSTALLMESSAGE MSI_ENUM_BASE {
  INSTALLMESSAGE_FATALEXIT = 0x00000000L,
  INSTALLMESSAGE_ERROR = 0x01000000L,
  INSTALLMESSAGE_WARNING = 0x02000000L,
  INSTALLMESSAGE_USER = 0x03000000L,
  INSTALLMESSAGE_INFO = 0x04000000L,
  INSTALLMESSAGE_FILESINUSE = 0x05000000L,
  INSTALLMESSAGE_RESOLVESOURCE = 0x06000000L,
  INSTALLMESSAGE_OUTOFDISKSPACE = 0x07000000L,
  INSTALLMESSAGE_ACTIONSTART = 0x08000000L,
  INSTALLMESSAGE_ACTIONDATA = 0x09000000L,
  INSTALLMESSAGE_PROGRESS = 0x0A000000L,
  INSTALLMESSAGE_COMMONDATA = 0x0B000000L,
  INSTALLMESSAGE_INITIALIZE = 0x0C000000L,
  INSTALLMESSAGE_TERMINATE = 0x0D000000L,
  INSTALLMESSAGE_SHOWDIALOG = 0x0E000000L
} INSTALLMESSAGE;

// The external UI handler: the message type (an INSTALLMESSAGE in the top
// byte, flags below it) and its text; answers 0 (not handled), an ID* value,
// or -1 for an error. IDCANCEL cancels the running installation.
typedef INT(WINAPI* INSTALLUI_HANDLERW)(LPVOID pvContext, UINT iMessageType, LPCWSTR szMessage);

typedef enum tagINSTALLUILEVEL MSI_ENUM_BASE {
  INSTALLUILEVEL_NOCHANGE = 0,
  INSTALLUILEVEL_DEFAULT = 1,
  INSTALLUILEVEL_NONE = 2,
  INSTALLUILEVEL_BASIC = 3,
  INSTALLUILEVEL_REDUCED = 4,
  INSTALLUILEVEL_FULL = 5,
  INSTALLUILEVEL_HIDECANCEL = 0x20,
  INSTALLUILEVEL_PROGRESSONLY = 0x40,
  INSTALLUILEVEL_ENDDIALOG = 0x80,
  INSTALLUILEVEL_SOURCERESONLY = 0x100,
  INSTALLUILEVEL_UACONLY = 0x200
} INSTALLUILEVEL;

typedef enum tagINSTALLSTATE MSI_ENUM_BASE {
  INSTALLSTATE_NOTUSED = -7,
  INSTALLSTATE_BADCONFIG = -6,
  INSTALLSTATE_INCOMPLETE = -5,
  INSTALLSTATE_SOURCEABSENT = -4,
  INSTALLSTATE_MOREDATA = -3,
  INSTALLSTATE_INVALIDARG = -2,
  INSTALLSTATE_UNKNOWN = -1,
  INSTALLSTATE_BROKEN = 0,
  INSTALLSTATE_ADVERTISED = 1,
  INSTALLSTATE_REMOVED = 1,
  INSTALLSTATE_ABSENT = 2,
  INSTALLSTATE_LOCAL = 3,
  INSTALLSTATE_SOURCE = 4,
  INSTALLSTATE_DEFAULT = 5
} INSTALLSTATE;

// Log and handler filter bits: one per message type.
typedef enum tagINSTALLLOGMODE MSI_ENUM_BASE {
  INSTALLLOGMODE_FATALEXIT = 1 << (INSTALLMESSAGE_FATALEXIT >> 24),
  INSTALLLOGMODE_ERROR = 1 << (INSTALLMESSAGE_ERROR >> 24),
  INSTALLLOGMODE_WARNING = 1 << (INSTALLMESSAGE_WARNING >> 24),
  INSTALLLOGMODE_USER = 1 << (INSTALLMESSAGE_USER >> 24),
  INSTALLLOGMODE_INFO = 1 << (INSTALLMESSAGE_INFO >> 24),
  INSTALLLOGMODE_FILESINUSE = 1 << (INSTALLMESSAGE_FILESINUSE >> 24),
  INSTALLLOGMODE_RESOLVESOURCE = 1 << (INSTALLMESSAGE_RESOLVESOURCE >> 24),
  INSTALLLOGMODE_OUTOFDISKSPACE = 1 << (INSTALLMESSAGE_OUTOFDISKSPACE >> 24),
  INSTALLLOGMODE_ACTIONSTART = 1 << (INSTALLMESSAGE_ACTIONSTART >> 24),
  INSTALLLOGMODE_ACTIONDATA = 1 << (INSTALLMESSAGE_ACTIONDATA >> 24),
  INSTALLLOGMODE_COMMONDATA = 1 << (INSTALLMESSAGE_COMMONDATA >> 24),
  INSTALLLOGMODE_PROPERTYDUMP = 1 << (INSTALLMESSAGE_PROGRESS >> 24),    // log only
  INSTALLLOGMODE_VERBOSE = 1 << (INSTALLMESSAGE_INITIALIZE >> 24),       // log only
  INSTALLLOGMODE_EXTRADEBUG = 1 << (INSTALLMESSAGE_TERMINATE >> 24),     // log only
  INSTALLLOGMODE_LOGONLYONERROR = 1 << (INSTALLMESSAGE_SHOWDIALOG >> 24),  // log only
  INSTALLLOGMODE_PROGRESS = 1 << (INSTALLMESSAGE_PROGRESS >> 24),        // handler only
  INSTALLLOGMODE_INITIALIZE = 1 << (INSTALLMESSAGE_INITIALIZE >> 24),    // handler only
  INSTALLLOGMODE_TERMINATE = 1 << (INSTALLMESSAGE_TERMINATE >> 24),      // handler only
  INSTALLLOGMODE_SHOWDIALOG = 1 << (INSTALLMESSAGE_SHOWDIALOG >> 24)     // handler only
} INSTALLLOGMODE;

typedef enum tagINSTALLLOGATTRIBUTES MSI_ENUM_BASE {
  INSTALLLOGATTRIBUTES_APPEND = 1 << 0,
  INSTALLLOGATTRIBUTES_FLUSHEACHLINE = 1 << 1
} INSTALLLOGATTRIBUTES;

// Longest feature name that MsiEnumFeaturesW returns, without the terminator.
#define MAX_FEATURE_CHARS 38

#define INSTALLLEVEL_DEFAULT 0
#define INSTALLLEVEL_MINIMUM 1
#define INSTALLLEVEL_MAXIMUM 0xFFFF

// Product properties for MsiGetProductInfoW.
#define INSTALLPROPERTY_PACKAGENAME L"PackageName"
#define INSTALLPROPERTY_TRANSFORMS L"Transforms"
#define INSTALLPROPERTY_LANGUAGE L"Language"
#define INSTALLPROPERTY_PRODUCTNAME L"ProductName"
#define INSTALLPROPERTY_ASSIGNMENTTYPE L"AssignmentType"
#define INSTALLPROPERTY_INSTANCETYPE L"InstanceType"
#define INSTALLPROPERTY_PACKAGECODE L"PackageCode"
#define INSTALLPROPERTY_VERSION L"Version"
#define INSTALLPROPERTY_PRODUCTICON L"ProductIcon"
#define INSTALLPROPERTY_INSTALLEDPRODUCTNAME L"InstalledProductName"
#define INSTALLPROPERTY_VERSIONSTRING L"VersionString"
#define INSTALLPROPERTY_HELPLINK L"HelpLink"
#define INSTALLPROPERTY_HELPTELEPHONE L"HelpTelephone"
#define INSTALLPROPERTY_INSTALLLOCATION L"InstallLocation"
#define INSTALLPROPERTY_INSTALLSOURCE L"InstallSource"
#define INSTALLPROPERTY_INSTALLDATE L"InstallDate"
#define INSTALLPROPERTY_PUBLISHER L"Publisher"
#define INSTALLPROPERTY_LOCALPACKAGE L"LocalPackage"
#define INSTALLPROPERTY_URLINFOABOUT L"URLInfoAbout"
#define INSTALLPROPERTY_URLUPDATEINFO L"URLUpdateInfo"
#define INSTALLPROPERTY_VERSIONMINOR L"VersionMinor"
#define INSTALLPROPERTY_VERSIONMAJOR L"VersionMajor"
#define INSTALLPROPERTY_PRODUCTID L"ProductID"
#define INSTALLPROPERTY_REGCOMPANY L"RegCompany"
#define INSTALLPROPERTY_REGOWNER L"RegOwner"

#ifdef __cplusplus
extern "C" {
#endif

// Closes one handle: ERROR_SUCCESS (also for 0), or ERROR_INVALID_HANDLE.
UINT WINAPI MsiCloseHandle(MSIHANDLE hAny);
// Closes every handle of the process; returns how many were open.
UINT WINAPI MsiCloseAllHandles(void);

// Process-wide user-interface and log settings, used by the installations
// that start after the call. There is no internal UI here: its level is kept
// and reported only.
INSTALLUILEVEL WINAPI MsiSetInternalUI(INSTALLUILEVEL dwUILevel, HWND* phWnd);
INSTALLUI_HANDLERW WINAPI MsiSetExternalUIW(INSTALLUI_HANDLERW puiHandler, DWORD dwMessageFilter, LPVOID pvContext);
UINT WINAPI MsiEnableLogW(DWORD dwLogMode, LPCWSTR szLogFile, DWORD dwLogAttributes);

// Installs (or, with REMOVE=ALL on the command line, removes) the package's product.
UINT WINAPI MsiInstallProductW(LPCWSTR szPackagePath, LPCWSTR szCommandLine);
// INSTALLSTATE_ABSENT removes an installed product; INSTALLSTATE_LOCAL and
// INSTALLSTATE_DEFAULT run its cached package again with the command line.
UINT WINAPI MsiConfigureProductExW(LPCWSTR szProduct, int iInstallLevel, INSTALLSTATE eInstallState,
                                   LPCWSTR szCommandLine);

INSTALLSTATE WINAPI MsiQueryProductStateW(LPCWSTR szProduct);
UINT WINAPI MsiGetProductInfoW(LPCWSTR szProduct, LPCWSTR szAttribute, LPWSTR lpValueBuf, LPDWORD pcchValueBuf);
UINT WINAPI MsiGetProductCodeW(LPCWSTR szComponent, LPWSTR lpBuf39);
INSTALLSTATE WINAPI MsiGetComponentPathW(LPCWSTR szProduct, LPCWSTR szComponent, LPWSTR lpPathBuf, LPDWORD pcchBuf);
UINT WINAPI MsiEnumProductsW(DWORD iProductIndex, LPWSTR lpProductBuf);
UINT WINAPI MsiEnumRelatedProductsW(LPCWSTR lpUpgradeCode, DWORD dwReserved, DWORD iProductIndex, LPWSTR lpProductBuf);
UINT WINAPI MsiEnumFeaturesW(LPCWSTR szProduct, DWORD iFeatureIndex, LPWSTR lpFeatureBuf, LPWSTR lpParentBuf);
INSTALLSTATE WINAPI MsiQueryFeatureStateW(LPCWSTR szProduct, LPCWSTR szFeature);

#ifdef __cplusplus
}
#endif
