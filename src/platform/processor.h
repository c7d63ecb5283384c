// The processor seam: the only two instructions that the library executes.
// processor_x86.cpp answers them from the hardware; tests link fakes instead.
#ifndef VELQUORN_PLATFORM_PROCESSOR_H
#define VELQUORN_PLATFORM_PROCESSOR_H

#include <stdint.h>

extern "C" {

// The four registers that one CPUID execution yields.
struct CpuidResult {
  uint32_t eax;
  uint32_t ebx;
  uint32_t ecx;
  uint32_t edx;
};

// CPUID with EAX = leaf and ECX = subleaf on the calling thread's processor.
CpuidResult cpuid_query(uint32_t leaf, uint32_t subleaf);

// The 64-bit time-stamp counter (RDTSC), with no fence before or after.
uint64_t read_tsc(void);

}  // extern "C"

#endif  // VELQUORN_PLATFORM_PROCESSOR_H
