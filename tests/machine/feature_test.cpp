// cpuinfo_has_feature and the library's texts on this machine's processor.
#include <gtest/gtest.h>
#include <stdint.h>

#include "direct_cpuid.h"
#include "platform/processor.h"
#include "probe/cpuid.h"
#include "velquorn/cpuinfo.h"

namespace {

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
