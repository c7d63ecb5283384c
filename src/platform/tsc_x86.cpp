// RDTSC on x86-64: the plain instruction, with no fence before or after.
#include "platform/processor.h"

#if defined(_MSC_VER)
#include <intrin.h>
#else
#include <x86intrin.h>
#endif

extern "C" uint64_t read_tsc(void) { return __rdtsc(); }
