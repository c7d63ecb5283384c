// cpuinfo_has_feature and the library's texts on this machine's processor.
#include <gtest/gtest.h>
#include <stdint.h>

#include "platform/processor.h"
#include "probe/cpuid.h"
#include "velquorn/cpuinfo.h"

#if defined(_MSC_VER)
#include <intrin.h>
#else
#include <cpuid.h>
#endif

namespace {

// An independent CPUID read, not through the library's seam.
CpuidResult direct_cpuid(uint32_t leaf, uint32_t subleaf) {
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

TEST(MachineFeatures, EveryNameAgreesWithADirectCpuidRead) {
  for (const FeatureEntry& f : FEATS) {
    const CpuidResult r = direct_cpuid(f.leaf, f.subleaf);
    const uint32_t reg = f.reg == 1 ? r.ebx : f.reg == 2 ? r.ecx : r.edx;
    EXPECT_EQ(cpuinfo_has_feature(f.name), (reg & f.mask) != 0 ? 1 : 0) << f.name;
  }
}

TEST(MachineFeatures, AnX86_64ProcessorHasSse2AndLongMode) {
  EXPECT_EQ(cpuinfo_has_feature("sse2"), 1);
  EXPECT_EQ(cpuinfo_has_feature("x64"), 1);
  EXPECT_EQ(cpuinfo_has_feature("x86"), -1);
}

}  // namespace
