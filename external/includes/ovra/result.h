// Result codes: values, texts and the mapping of Win32 errors.
//
// A result_t is negative on failure. Bits 16 to 30 hold the facility:
//   0  general codes   (kResult...)          0x800000xx, 0x800001xx, 0x80000221
//   1  platform codes  (kResultPlatform...)  0x800101xx
//   7  a Win32 error number in the low 16 bits (0x8007xxxx)
#pragma once

#include <cstddef>
#include <cstdint>

namespace ovra {

using result_t = std::int32_t;

// Reinterprets the 32 bits of a code written in hexadecimal as a result_t.
constexpr result_t MakeResult(std::uint32_t bits) { return static_cast<result_t>(bits); }

constexpr bool IsFailure(result_t code) { return code < 0; }

// General codes (facility 0).
inline constexpr result_t kResultOk = 0;
inline constexpr result_t kResultFalse = 1;
inline constexpr result_t kResultInterfaceNotSupported = MakeResult(0x80000001);
inline constexpr result_t kResultUnexpected = MakeResult(0x80000040);
inline constexpr result_t kResultOutOfMemory = MakeResult(0x80000041);
inline constexpr result_t kResultNotSupported = MakeResult(0x80000042);
inline constexpr result_t kResultNotImplemented = MakeResult(0x80000043);
inline constexpr result_t kResultBufferTooSmall = MakeResult(0x80000044);
inline constexpr result_t kResultAccessDenied = MakeResult(0x80000045);
inline constexpr result_t kResultInvalidArgument = MakeResult(0x80000046);
inline constexpr result_t kResultNotMatched = MakeResult(0x8000004A);
inline constexpr result_t kResultUnspecified = MakeResult(0x8000004B);
inline constexpr result_t kResultNotFound = MakeResult(0x8000004C);
inline constexpr result_t kResultFound = MakeResult(0x8000004D);
inline constexpr result_t kResultLocked = MakeResult(0x8000004F);
inline constexpr result_t kResultNotLocked = MakeResult(0x80000050);
inline constexpr result_t kResultOperationCancelled = MakeResult(0x80000051);
inline constexpr result_t kResultMethodNotFound = MakeResult(0x80000057);
inline constexpr result_t kResultStackEmpty = MakeResult(0x80000058);
inline constexpr result_t kResultMediaError = MakeResult(0x80000059);
inline constexpr result_t kResultInvalidSignature = MakeResult(0x8000005A);
inline constexpr result_t kResultInvalidVersion = MakeResult(0x8000005B);
inline constexpr result_t kResultInvalidSize = MakeResult(0x8000005C);
inline constexpr result_t kResultInvalidType = MakeResult(0x8000005D);
inline constexpr result_t kResultInvalidIndex = MakeResult(0x8000005E);
inline constexpr result_t kResultOutOfSpace = MakeResult(0x80000062);
inline constexpr result_t kResultNotReady = MakeResult(0x80000063);
inline constexpr result_t kResultLessThan = MakeResult(0x80000064);
inline constexpr result_t kResultMoreThan = MakeResult(0x80000065);
inline constexpr result_t kResultProhibited = MakeResult(0x80000066);
inline constexpr result_t kResultAlreadyDone = MakeResult(0x80000067);
inline constexpr result_t kResultNeedReboot = MakeResult(0x80000068);
inline constexpr result_t kResultBasesCorrupted = MakeResult(0x80000069);
inline constexpr result_t kResultInvalidState = MakeResult(0x8000006A);
inline constexpr result_t kResultNotInitialized = MakeResult(0x8000006B);
inline constexpr result_t kResultInsufficientResources = MakeResult(0x8000006C);
inline constexpr result_t kResultInvalidResult = MakeResult(0x80000071);
inline constexpr result_t kResultUnknownException = MakeResult(0x80000072);
inline constexpr result_t kResultMetaInfoNotFound = MakeResult(0x80000076);
inline constexpr result_t kResultClassNotFound = MakeResult(0x80000100);
inline constexpr result_t kResultSettingsRequired = MakeResult(0x80000101);
inline constexpr result_t kResultUnexpectedSettings = MakeResult(0x80000102);
inline constexpr result_t kResultWrongSettingsType = MakeResult(0x80000103);
inline constexpr result_t kResultPropertyNotFound = MakeResult(0x80000180);
inline constexpr result_t kResultTimeout = MakeResult(0x80000221);

// Platform codes (facility 1).
inline constexpr result_t kResultPlatformUnspecified = MakeResult(0x80010100);
inline constexpr result_t kResultPlatformInvalidHandle = MakeResult(0x80010101);
inline constexpr result_t kResultPlatformFileNotFound = MakeResult(0x80010102);
inline constexpr result_t kResultPlatformPathNotFound = MakeResult(0x80010103);
inline constexpr result_t kResultPlatformSharingViolation = MakeResult(0x80010104);
inline constexpr result_t kResultPlatformAlreadyExists = MakeResult(0x80010105);
inline constexpr result_t kResultPlatformWaitAbandoned = MakeResult(0x80010106);
inline constexpr result_t kResultPlatformSymbolNotFound = MakeResult(0x80010107);
inline constexpr result_t kResultPlatformSxsIncorrect = MakeResult(0x80010108);
inline constexpr result_t kResultPlatformInvalidPathName = MakeResult(0x80010109);
inline constexpr result_t kResultPlatformAnonymousTokenLevel = MakeResult(0x80010110);
inline constexpr result_t kResultPlatformInvalidPassword = MakeResult(0x80010111);
inline constexpr result_t kResultPlatformModuleNotFound = MakeResult(0x80010112);
inline constexpr result_t kResultPlatformBadImageSignature = MakeResult(0x80010113);
inline constexpr result_t kResultPlatformCloudRequestAborted = MakeResult(0x80010114);
inline constexpr result_t kResultPlatformMappingFailed = MakeResult(0x80010115);

namespace result_detail {

struct CodeText {
  result_t code;
  const wchar_t* text;
};

inline constexpr CodeText kGeneralTexts[] = {
    {kResultOk, L"No error"},
    {kResultFalse, L"False"},
    {kResultInterfaceNotSupported, L"Interface not supported"},
    {kResultUnexpected, L"Unexpected"},
    {kResultOutOfMemory, L"Out of memory"},
    {kResultNotSupported, L"Not supported"},
    {kResultNotImplemented, L"Not implemented"},
    {kResultBufferTooSmall, L"Buffer too small"},
    {kResultAccessDenied, L"Access denied"},
    {kResultInvalidArgument, L"Invalid argument"},
    {kResultNotMatched, L"Not matched"},
    {kResultUnspecified, L"Unspecified error"},
    {kResultNotFound, L"Not found"},
    {kResultFound, L"Found"},
    {kResultLocked, L"Locked"},
    {kResultNotLocked, L"Not locked"},
    {kResultOperationCancelled, L"Operation cancelled"},
    {kResultMethodNotFound, L"Method not found"},
    {kResultStackEmpty, L"Stack is empty"},
    {kResultMediaError, L"Media error"},
    {kResultInvalidSignature, L"Invalid signature"},
    {kResultInvalidVersion, L"Invalid version"},
    {kResultInvalidSize, L"Invalid size"},
    {kResultInvalidType, L"Invalid type"},
    {kResultInvalidIndex, L"Invalid index"},
    {kResultOutOfSpace, L"Out of space"},
    {kResultNotReady, L"Not ready"},
    {kResultLessThan, L"Less than"},
    {kResultMoreThan, L"More than"},
    {kResultProhibited, L"Prohibited"},
    {kResultAlreadyDone, L"Already done"},
    {kResultNeedReboot, L"Need reboot"},
    {kResultBasesCorrupted, L"Bases corrupted"},
    {kResultInvalidState, L"Invalid state"},
    {kResultNotInitialized, L"Not initialized"},
    {kResultInsufficientResources, L"Insufficient resources"},
    {kResultInvalidResult, L"Invalid result"},
    {kResultUnknownException, L"Unknown exception"},
    {kResultMetaInfoNotFound, L"Meta information not found"},
    {kResultClassNotFound, L"Class not found"},
    {kResultSettingsRequired, L"Settings are required"},
    {kResultUnexpectedSettings, L"Unexpected settings"},
    {kResultWrongSettingsType, L"Wrong settings type"},
    {kResultPropertyNotFound, L"Property not found"},
    {kResultTimeout, L"Operation timeout"},
};

inline constexpr CodeText kPlatformTexts[] = {
    {kResultPlatformUnspecified, L"Unspecified platform error"},
    {kResultPlatformInvalidHandle, L"Invalid handle"},
    {kResultPlatformFileNotFound, L"File not found"},
    {kResultPlatformPathNotFound, L"Path not found"},
    {kResultPlatformSharingViolation, L"Sharing violation"},
    {kResultPlatformAlreadyExists, L"Already exists"},
    {kResultPlatformWaitAbandoned, L"Wait abandoned"},
    {kResultPlatformSymbolNotFound, L"Symbol not found"},
    {kResultPlatformSxsIncorrect, L"Sxs is incorrect"},
    {kResultPlatformInvalidPathName, L"Invalid path name"},
    {kResultPlatformAnonymousTokenLevel, L"Cannot open an anonymous level security token"},
    {kResultPlatformInvalidPassword, L"Password is invalid"},
    {kResultPlatformModuleNotFound, L"Module not found"},
    {kResultPlatformBadImageSignature, L"System image bad signature"},
    {kResultPlatformCloudRequestAborted, L"Cloud file request aborted"},
    {kResultPlatformMappingFailed, L"Memory mapping failed"},
};

// Win32 error numbers with a code of their own; the rest become 0x8007xxxx.
struct Win32Mapping {
  std::int32_t error;
  result_t code;
};

inline constexpr Win32Mapping kWin32Mappings[] = {
    {0, kResultOk},
    {1, kResultNotSupported},                     // ERROR_INVALID_FUNCTION
    {2, kResultPlatformFileNotFound},             // ERROR_FILE_NOT_FOUND
    {3, kResultPlatformPathNotFound},             // ERROR_PATH_NOT_FOUND
    {5, kResultAccessDenied},                     // ERROR_ACCESS_DENIED
    {6, kResultPlatformInvalidHandle},            // ERROR_INVALID_HANDLE
    {8, kResultOutOfMemory},                      // ERROR_NOT_ENOUGH_MEMORY
    {21, kResultNotReady},                        // ERROR_NOT_READY
    {24, kResultInvalidSize},                     // ERROR_BAD_LENGTH
    {31, kResultUnspecified},                     // ERROR_GEN_FAILURE
    {32, kResultPlatformSharingViolation},        // ERROR_SHARING_VIOLATION
    {33, kResultPlatformSharingViolation},        // ERROR_LOCK_VIOLATION
    {50, kResultNotSupported},                    // ERROR_NOT_SUPPORTED
    {53, kResultPlatformPathNotFound},            // ERROR_BAD_NETPATH
    {80, kResultPlatformAlreadyExists},           // ERROR_FILE_EXISTS
    {87, kResultInvalidArgument},                 // ERROR_INVALID_PARAMETER
    {111, kResultBufferTooSmall},                 // ERROR_BUFFER_OVERFLOW
    {112, kResultOutOfSpace},                     // ERROR_DISK_FULL
    {122, kResultBufferTooSmall},                 // ERROR_INSUFFICIENT_BUFFER
    {123, kResultPlatformInvalidPathName},        // ERROR_INVALID_NAME
    {126, kResultPlatformModuleNotFound},         // ERROR_MOD_NOT_FOUND
    {127, kResultPlatformSymbolNotFound},         // ERROR_PROC_NOT_FOUND
    {160, kResultInvalidArgument},                // ERROR_BAD_ARGUMENTS
    {183, kResultPlatformAlreadyExists},          // ERROR_ALREADY_EXISTS
    {234, kResultBufferTooSmall},                 // ERROR_MORE_DATA
    {267, kResultPlatformPathNotFound},           // ERROR_DIRECTORY
    {393, kResultPlatformCloudRequestAborted},    // ERROR_CLOUD_FILE_REQUEST_ABORTED
    {637, kResultPlatformBadImageSignature},      // ERROR_SYSTEM_IMAGE_BAD_SIGNATURE
    {995, kResultOperationCancelled},             // ERROR_OPERATION_ABORTED
    {1168, kResultNotFound},                      // ERROR_NOT_FOUND
    {1347, kResultPlatformAnonymousTokenLevel},   // ERROR_CANT_OPEN_ANONYMOUS
    {1413, kResultInvalidIndex},                  // ERROR_INVALID_INDEX
    {1450, kResultInsufficientResources},         // ERROR_NO_SYSTEM_RESOURCES
    {1460, kResultTimeout},                       // ERROR_TIMEOUT
    {1630, kResultInvalidType},                   // ERROR_UNSUPPORTED_TYPE
    {14001, kResultPlatformSxsIncorrect},         // ERROR_SXS_CANT_GEN_ACTCTX
};

template <std::size_t N>
constexpr const wchar_t* FindText(const CodeText (&table)[N], result_t code, const wchar_t* fallback) {
  for (const CodeText& entry : table) {
    if (entry.code == code) return entry.text;
  }
  return fallback;
}

}  // namespace result_detail

// True for codes of the platform facility, positive ones included.
constexpr bool IsPlatformResultCode(result_t code) {
  return (static_cast<std::uint32_t>(code) & 0x7FFF0000u) == 0x00010000u;
}

// Text of a general code; "Unknown result code" for any other value,
// platform codes included. Never null.
constexpr const wchar_t* GetResultCodeDescription(result_t code) {
  return result_detail::FindText(result_detail::kGeneralTexts, code, L"Unknown result code");
}

// Text of a platform code; "Unknown platform result code" for any other value.
// Never null.
constexpr const wchar_t* GetPlatformResultCodeDescription(result_t code) {
  return result_detail::FindText(result_detail::kPlatformTexts, code, L"Unknown platform result code");
}

// Maps a Win32 error number, or a Win32 error wrapped as an HRESULT, to a result code:
// known numbers through the table, other numbers below 0x10000 to 0x80070000 | error,
// larger non-negative values to 0, other negative values to kResultPlatformUnspecified.
constexpr result_t ResultCodeFromWin32Error(std::int32_t error) {
  if (error < 0) {
    if ((static_cast<std::uint32_t>(error) & 0x0FFF0000u) != 0x00070000u) return kResultPlatformUnspecified;
    error &= 0xFFFF;
  }
  for (const result_detail::Win32Mapping& entry : result_detail::kWin32Mappings) {
    if (entry.error == error) return entry.code;
  }
  if (error < 0x10000) return MakeResult(0x80070000u | static_cast<std::uint32_t>(error));
  return kResultOk;
}

}  // namespace ovra
