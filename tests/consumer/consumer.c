/* A host of the installed library: the header, the link, and one call of
 * each export. Prints the report, then one line of the cheap answers (the
 * caller compares the version); exits 0 when those answers are sound. */
#include <stdio.h>

#include <velquorn/cpuinfo.h>

int main(void) {
  const char* version = cpuinfo_version();
  int sse2 = cpuinfo_has_feature("sse2");
  int logical = cpuinfo_logical_cores();
  printf("%s\n", cpuinfo_get_json());
  printf("version %s, sse2 %d, logical %d\n", version, sse2, logical);
  return version[0] != '\0' && sse2 == 1 && logical >= 1 ? 0 : 1;
}
