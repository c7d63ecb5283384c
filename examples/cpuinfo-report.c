/* Prints this machine's processor report, one line of JSON.
 *
 * On Windows the host loads "velquorn-cpuid-cpu-info.dll" by name at run time
 * and resolves the exports it needs, as a program that ships the DLL beside
 * itself would. Elsewhere it links the shared library in the usual way. */
#include <stdio.h>

#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

typedef const char*(__cdecl* text_fn)(void);

int main(void) {
  HMODULE module = LoadLibraryA("velquorn-cpuid-cpu-info.dll");
  if (module == NULL) {
    fprintf(stderr, "cpuinfo-report: cannot load velquorn-cpuid-cpu-info.dll (error %lu)\n",
            (unsigned long)GetLastError());
    return 1;
  }
  text_fn get_json = (text_fn)(void (*)(void))GetProcAddress(module, "cpuinfo_get_json");
  if (get_json == NULL) {
    fprintf(stderr, "cpuinfo-report: the module has no cpuinfo_get_json\n");
    FreeLibrary(module);
    return 1;
  }
  printf("%s\n", get_json());
  FreeLibrary(module);
  return 0;
}

#else
#include "velquorn/cpuinfo.h"

int main(void) {
  printf("%s\n", cpuinfo_get_json());
  return 0;
}
#endif
