// CPUID access and the table of named feature bits.
#ifndef VELQUORN_PROBE_CPUID_H
#define VELQUORN_PROBE_CPUID_H

#include <stdint.h>

#include "platform/processor.h"

extern "C" {

// One named feature bit: CPUID.(EAX=leaf,ECX=subleaf), register `reg`
// (0 EAX, 1 EBX, 2 ECX, any other EDX), bit `mask`.
struct FeatureEntry {
  const char* name;
  uint32_t leaf;
  uint32_t subleaf;
  int32_t reg;
  uint32_t mask;
};

constexpr int kFeatureCount = 20;

// The named features, in report order; the first row with a matching name
// answers.
extern const FeatureEntry FEATS[kFeatureCount];

// The register of `result` that `selector` picks.
uint32_t select_register(const CpuidResult& result, int32_t selector);

}  // extern "C"

#endif  // VELQUORN_PROBE_CPUID_H
