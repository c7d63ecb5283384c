#include "probe/cpuid.h"

#include <string.h>

#include "velquorn/cpuinfo.h"

namespace {

constexpr int32_t kEbx = 1, kEcx = 2, kEdx = 3;

// CPUID.(EAX=80000000h):EAX is the highest extended leaf; CPUID.80000001h:EDX
// bit 29 is long mode (Intel 64 / AMD64).
constexpr uint32_t kExtendedLeaves = 0x80000000u;
constexpr uint32_t kExtendedFeatures = 0x80000001u;
constexpr uint32_t kLongModeBit = 1u << 29;

}  // namespace

extern "C" {

// Leaf 1 EDX and ECX and leaf 7 subleaf 0 EBX; leaf 1 ECX bit 31 is the bit
// that a hypervisor sets in its guests' view of the processor. "sha" (bit 29)
// stands before "avx512f" (bit 16): the order is the report's.
const FeatureEntry FEATS[kFeatureCount] = {
    {"sse", 1, 0, kEdx, 1u << 25},    {"sse2", 1, 0, kEdx, 1u << 26},
    {"htt", 1, 0, kEdx, 1u << 28},    {"sse3", 1, 0, kEcx, 1u << 0},
    {"ssse3", 1, 0, kEcx, 1u << 9},   {"fma", 1, 0, kEcx, 1u << 12},
    {"sse41", 1, 0, kEcx, 1u << 19},  {"sse42", 1, 0, kEcx, 1u << 20},
    {"popcnt", 1, 0, kEcx, 1u << 23}, {"aes", 1, 0, kEcx, 1u << 25},
    {"avx", 1, 0, kEcx, 1u << 28},    {"f16c", 1, 0, kEcx, 1u << 29},
    {"rdrand", 1, 0, kEcx, 1u << 30}, {"hypervisor", 1, 0, kEcx, 1u << 31},
    {"bmi1", 7, 0, kEbx, 1u << 3},    {"avx2", 7, 0, kEbx, 1u << 5},
    {"bmi2", 7, 0, kEbx, 1u << 8},    {"rdseed", 7, 0, kEbx, 1u << 18},
    {"sha", 7, 0, kEbx, 1u << 29},    {"avx512f", 7, 0, kEbx, 1u << 16},
};

uint32_t select_register(const CpuidResult& result, int32_t selector) {
  switch (selector) {
    case 0:
      return result.eax;
    case 1:
      return result.ebx;
    case 2:
      return result.ecx;
    default:
      return result.edx;
  }
}

int cpuinfo_has_feature(const char* name) {
  if (name == nullptr) return -1;
  if (strcmp(name, "x64") == 0) {
    if (cpuid_query(kExtendedLeaves, 0).eax < kExtendedFeatures) return 0;
    return (cpuid_query(kExtendedFeatures, 0).edx & kLongModeBit) != 0 ? 1 : 0;
  }
  for (const FeatureEntry& f : FEATS) {
    if (strcmp(name, f.name) == 0)
      return (select_register(cpuid_query(f.leaf, f.subleaf), f.reg) & f.mask) != 0 ? 1 : 0;
  }
  return -1;
}

}  // extern "C"
