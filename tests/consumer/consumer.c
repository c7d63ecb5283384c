/* A host of the installed library: the header, the link, and one call of each
 * cheap export. Exits 0 when the answers are sound. */
#include <stdio.h>
#include <string.h>

#include <velquorn/cpuinfo.h>

int main(void) {
  const char* version = cpuinfo_version();
  int sse2 = cpuinfo_has_feature("sse2");
  int logical = cpuinfo_logical_cores();
  printf("version %s, sse2 %d, logical %d\n", version, sse2, logical);
  return strcmp(version, "1.0.0") == 0 && sse2 == 1 && logical >= 1 ? 0 : 1;
}
