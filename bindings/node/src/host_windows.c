/* The addon's Node-API imports name "node.exe" and are delay-loaded: the
 * first call of a napi_* function resolves it, and MinGW's delay-load helper
 * (__delayLoadHelper2, in libmingwex) asks this hook first. Node-API lives in
 * the host program itself, whatever its file is called (node.exe, or an
 * Electron application's own .exe), so the "node.exe" import is answered
 * with the process's main module and never looked up by file name. */
#include <windows.h>
/* delayimp.h takes its types from windows.h. */
#include <delayimp.h>

static FARPROC WINAPI resolve_host(unsigned notification, PDelayLoadInfo info) {
  if (notification == dliNotePreLoadLibrary && lstrcmpiA(info->szDll, "node.exe") == 0) {
    return (FARPROC)GetModuleHandleW(NULL);
  }
  return NULL;
}

PfnDliHook __pfnDliNotifyHook2 = resolve_host;
