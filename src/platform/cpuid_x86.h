// The CPUID instruction itself, shared by the module's processor seam
// (processor_x86.cpp) and the tools' (processor_replay.cpp), so that a live
// answer of a tool is executed by the same code as the module's. This header
// and tsc_x86.cpp are the only places that use processor intrinsics.
#ifndef VELQUORN_PLATFORM_CPUID_X86_H
#define VELQUORN_PLATFORM_CPUID_X86_H

#include <stdint.h>

#include "platform/processor.h"

#if defined(_MSC_VER)
#include <intrin.h>
#else
#include <cpuid.h>
#endif

// CPUID with EAX = leaf and ECX = subleaf on the calling thread's processor.
inline CpuidResult cpuid_execute(uint32_t leaf, uint32_t subleaf) {
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

#endif  // VELQUORN_PLATFORM_CPUID_X86_H
