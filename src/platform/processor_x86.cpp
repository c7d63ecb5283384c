// CPUID on x86-64. This file and tsc_x86.cpp are the only ones that execute
// processor instructions; the time-stamp counter lives apart so that a program
// can answer CPUID from a recording and still time the real counter.
#include "platform/processor.h"

#if defined(_MSC_VER)
#include <intrin.h>
#else
#include <cpuid.h>
#endif

extern "C" CpuidResult cpuid_query(uint32_t leaf, uint32_t subleaf) {
  CpuidResult r;
#if defined(_MSC_VER)
  int regs[4];
  __cpuidex(regs, static_cast<int>(leaf), static_cast<int>(subleaf));
  r.eax = static_cast<uint32_t>(regs[0]);
  r.ebx = static_cast<uint32_t>(regs[1]);
  r.ecx = static_cast<uint32_t>(regs[2]);
  r.edx = static_cast<uint32_t>(regs[3]);
#else
  // __cpuid_count executes CPUID as asked; __get_cpuid_count would first
  // compare the leaf with the highest one, which the callers do themselves.
  __cpuid_count(leaf, subleaf, r.eax, r.ebx, r.ecx, r.edx);
#endif
  return r;
}
