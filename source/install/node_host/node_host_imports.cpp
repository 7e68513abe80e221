// Binds an addon's Node-API imports to the process that loads it (Windows).
//
// The import library names the module "node.exe", but the host may be called
// anything (electron.exe, the installer's own name). The imports are therefore
// delay-loaded: a notify hook answers the request for "node.exe" with the
// process image itself, which exports the Node-API functions in every such host
// (the same answer node-gyp's delay-load hook gives).
//
// Delay-loading was chosen over resolving the functions by hand because dlltool,
// the linker and the runtime's delayimp helper already make and fill the tables
// from node-api-headers' .def file: no generated trampolines per function and
// per calling convention (i686 and x86_64), and the tables still name exactly
// the Node-API functions an addon uses.
//
// Nothing is bound lazily. The runtime's helper is not safe to race (it keeps an
// unlocked list of loaded modules), so every import is bound in DllMain, on the
// thread that loads the addon, before the host can call into it and so before
// the addon can start a worker thread. A host lacking one of the functions
// makes the load fail, as a missing static import would, instead of failing at
// the first call. (GNU ld leaves the image's delay-import directory empty, so
// __HrLoadAllImportsForDll cannot find the table: it is walked here instead.)
#include <windows.h>

#include <delayimp.h>
#include <string.h>

namespace {

constexpr char kHostModuleName[] = "node.exe";

bool g_import_missing = false;

FARPROC WINAPI AnswerWithHostImage(unsigned notification, PDelayLoadInfo info) {
  if (notification == dliNotePreLoadLibrary && _stricmp(info->szDll, kHostModuleName) == 0)
    return reinterpret_cast<FARPROC>(GetModuleHandleW(nullptr));
  return nullptr;
}

// Never called: a missing import fails the load.
void MissingImport() { RaiseException(ERROR_PROC_NOT_FOUND, EXCEPTION_NONCONTINUABLE, 0, nullptr); }

// The helper raises an exception for a failed import unless this hook returns
// a substitute; recording the failure lets DllMain refuse the load instead.
FARPROC WINAPI RecordFailure(unsigned notification, PDelayLoadInfo info) {
  g_import_missing = true;
  return reinterpret_cast<FARPROC>(&MissingImport);
}

}  // namespace

extern "C" {

// Defined here, these override the runtime's null defaults (libmingwex).
PfnDliHook __pfnDliNotifyHook2 = AnswerWithHostImage;
PfnDliHook __pfnDliFailureHook2 = RecordFailure;

FARPROC WINAPI __delayLoadHelper2(PCImgDelayDescr descriptor, FARPROC* slot);

// Made by dlltool with the import library (cmake/NodeAddon.cmake names it).
extern const ImgDelayDescr node_host_descriptor __asm__("__DELAY_IMPORT_DESCRIPTOR_libnode_api_delay_a");

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID reserved) {
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  // Under the loader lock only GetModuleHandle and GetProcAddress run: the hook
  // answers before the helper would call LoadLibrary.
  auto* image = reinterpret_cast<BYTE*>(self);
  for (auto* slot = reinterpret_cast<FARPROC*>(image + node_host_descriptor.rvaIAT); *slot; ++slot)
    __delayLoadHelper2(&node_host_descriptor, slot);
  return g_import_missing ? FALSE : TRUE;
}

}  // extern "C"
