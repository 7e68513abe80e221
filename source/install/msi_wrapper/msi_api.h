// The Windows Installer C API: the SDK's headers over msi.dll on Windows, the
// platform's stand-in elsewhere; the same names, types and codes on both.
#pragma once

#ifdef _WIN32
#include <windows.h>
#include <wtypes.h>  // VT_* property types
#endif

#include <msi.h>
#include <msidefs.h>
#include <msiquery.h>
