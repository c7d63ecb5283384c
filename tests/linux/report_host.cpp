// A host of the built module for the checks that run the report in a
// restricted environment: with no argument it prints the report and a
// newline; with --leaf16-base it prints the base clock that CPUID leaf 0x16
// states (0 when the leaf is absent or states none), read by the program
// itself rather than through the module.
#include <stdio.h>
#include <string.h>

#include "direct_cpuid.h"
#include "velquorn/cpuinfo.h"

int main(int argc, char** argv) {
  if (argc == 1) {
    printf("%s\n", cpuinfo_get_json());
    return 0;
  }
  if (argc == 2 && strcmp(argv[1], "--leaf16-base") == 0) {
    // CPUID.16h:EAX bits 15:0 is the base frequency in MHz.
    const bool has_leaf16 = direct_cpuid(0, 0).eax >= 0x16;
    printf("%u\n", has_leaf16 ? direct_cpuid(0x16, 0).eax & 0xFFFF : 0u);
    return 0;
  }
  fprintf(stderr, "usage: %s [--leaf16-base]\n", argv[0]);
  return 2;
}
