// CPUID executed by the test itself, not through the library's seam, so that
// machine tests compare the library with an independent reading.
#ifndef VELQUORN_TESTS_DIRECT_CPUID_H
#define VELQUORN_TESTS_DIRECT_CPUID_H

#include <stdint.h>

#include "platform/processor.h"

#if defined(_MSC_VER)
#include <intrin.h>
#else
#include <cpuid.h>
#endif

inline CpuidResult direct_cpuid(uint32_t leaf, uint32_t subleaf) {
  CpuidResult r;
#if defined(_MSC_VER)
  int regs[4];
  __cpuidex(regs, static_cast<int>(leaf), static_cast<int>(subleaf));
  r = {static_cast<uint32_t>(regs[0]), static_cast<uint32_t>(regs[1]),
       static_cast<uint32_t>(regs[2]), static_cast<uint32_t>(regs[3])};
#else
  __cpuid_count(leaf, subleaf, r.eax, r.ebx, r.ecx, r.edx);
#endif
  return r;
}

#endif  // VELQUORN_TESTS_DIRECT_CPUID_H
