/* A host in the MSVC model: compiled for x86_64-pc-windows-msvc and linked
 * by an MSVC-compatible linker against the package's .lib, with no C runtime
 * (so no MinGW and no MSVC runtime library is involved). It prints the
 * report and a line of the cheap answers through WriteFile, as the C hosts
 * do, and exits 0 when those answers are sound. */
#include <velquorn/cpuinfo.h>

/* The few kernel32 functions used, declared here instead of <windows.h>. */
typedef void* HANDLE;
__declspec(dllimport) HANDLE __stdcall GetStdHandle(unsigned long which);
__declspec(dllimport) int __stdcall WriteFile(HANDLE file, const void* data, unsigned long size,
                                              unsigned long* written, void* overlapped);
__declspec(dllimport) void __stdcall ExitProcess(unsigned int code);

#define STD_OUTPUT_HANDLE ((unsigned long)-11)

static HANDLE out;
static int failed;

static void put(const char* text) {
  unsigned long size = 0, written = 0;
  while (text[size] != '\0') ++size;
  if (!WriteFile(out, text, size, &written, 0) || written != size) failed = 1;
}

static void put_int(int value) {
  char digits[12];
  int n = 0;
  unsigned int v = value < 0 ? 0u - (unsigned int)value : (unsigned int)value;
  do {
    digits[n++] = (char)('0' + v % 10);
    v /= 10;
  } while (v != 0);
  char text[13];
  int i = 0;
  if (value < 0) text[i++] = '-';
  while (n > 0) text[i++] = digits[--n];
  text[i] = '\0';
  put(text);
}

void host_main(void) {
  out = GetStdHandle(STD_OUTPUT_HANDLE);
  const char* version = cpuinfo_version();
  int sse2 = cpuinfo_has_feature("sse2");
  int logical = cpuinfo_logical_cores();
  put(cpuinfo_get_json());
  put("\nversion ");
  put(version);
  put(", sse2 ");
  put_int(sse2);
  put(", logical ");
  put_int(logical);
  put("\n");
  ExitProcess(!failed && version[0] != '\0' && sse2 == 1 && logical >= 1 ? 0 : 1);
}
