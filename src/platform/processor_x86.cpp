// CPUID on x86-64, as the module executes it. The instruction lives in
// cpuid_x86.h, which the tools' seam shares; the time-stamp counter lives
// apart (tsc_x86.cpp) so that a program can answer CPUID from a recording and
// still time the real counter.
#include "platform/cpuid_x86.h"
#include "platform/processor.h"

extern "C" CpuidResult cpuid_query(uint32_t leaf, uint32_t subleaf) {
  return cpuid_execute(leaf, subleaf);
}
