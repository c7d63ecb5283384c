// cpuinfo_has_feature against the fake processor.
#include <gtest/gtest.h>
#include <stdint.h>

#include <string>

#include "fake_os.h"
#include "fake_processor.h"
#include "probe/cpuid.h"
#include "velquorn/cpuinfo.h"

namespace {

class FeatureTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake_processor_reset();
    fake_os_reset();
  }
};

// Sets one register of one leaf; the other registers and leaves answer zeros.
void set_register(uint32_t leaf, uint32_t subleaf, int32_t reg, uint32_t value) {
  CpuidResult r = {0, 0, 0, 0};
  (reg == 0 ? r.eax : reg == 1 ? r.ebx : reg == 2 ? r.ecx : r.edx) = value;
  g_fake_cpu.leaves[{leaf, subleaf}] = r;
}

struct Row {
  const char* name;
  uint32_t leaf;
  uint32_t subleaf;
  int32_t reg;
  uint32_t mask;
};

// CPUID.1:EDX bits 25, 26, 28; CPUID.1:ECX bits 0, 9, 12, 19, 20, 23, 25,
// 28-31; CPUID.(7,0):EBX bits 3, 5, 8, 18, 29, 16.
constexpr Row kExpected[kFeatureCount] = {
    {"sse", 1, 0, 3, 0x02000000},    {"sse2", 1, 0, 3, 0x04000000},
    {"htt", 1, 0, 3, 0x10000000},    {"sse3", 1, 0, 2, 0x00000001},
    {"ssse3", 1, 0, 2, 0x00000200},  {"fma", 1, 0, 2, 0x00001000},
    {"sse41", 1, 0, 2, 0x00080000},  {"sse42", 1, 0, 2, 0x00100000},
    {"popcnt", 1, 0, 2, 0x00800000}, {"aes", 1, 0, 2, 0x02000000},
    {"avx", 1, 0, 2, 0x10000000},    {"f16c", 1, 0, 2, 0x20000000},
    {"rdrand", 1, 0, 2, 0x40000000}, {"hypervisor", 1, 0, 2, 0x80000000},
    {"bmi1", 7, 0, 1, 0x00000008},   {"avx2", 7, 0, 1, 0x00000020},
    {"bmi2", 7, 0, 1, 0x00000100},   {"rdseed", 7, 0, 1, 0x00040000},
    {"sha", 7, 0, 1, 0x20000000},    {"avx512f", 7, 0, 1, 0x00010000},
};

TEST_F(FeatureTest, TableHoldsTheTwentyRowsInReportOrder) {
  for (int i = 0; i < kFeatureCount; ++i) {
    SCOPED_TRACE(kExpected[i].name);
    EXPECT_STREQ(FEATS[i].name, kExpected[i].name);
    EXPECT_EQ(FEATS[i].leaf, kExpected[i].leaf);
    EXPECT_EQ(FEATS[i].subleaf, kExpected[i].subleaf);
    EXPECT_EQ(FEATS[i].reg, kExpected[i].reg);
    EXPECT_EQ(FEATS[i].mask, kExpected[i].mask);
  }
}

TEST_F(FeatureTest, EachNameAnswersFromItsOwnBitWithOneCpuid) {
  for (const Row& row : kExpected) {
    SCOPED_TRACE(row.name);
    // Only the row's bit set: present, and asked exactly once.
    fake_processor_reset();
    set_register(row.leaf, row.subleaf, row.reg, row.mask);
    EXPECT_EQ(cpuinfo_has_feature(row.name), 1);
    ASSERT_EQ(g_fake_cpu.queries.size(), 1u);
    EXPECT_EQ(g_fake_cpu.queries[0], std::make_pair(row.leaf, row.subleaf));

    // Every other bit of every register of both leaves set: absent.
    fake_processor_reset();
    CpuidResult all = {~0u, ~0u, ~0u, ~0u};
    g_fake_cpu.leaves[{1, 0}] = all;
    g_fake_cpu.leaves[{7, 0}] = all;
    CpuidResult& own = g_fake_cpu.leaves[{row.leaf, row.subleaf}];
    (row.reg == 1 ? own.ebx : row.reg == 2 ? own.ecx : own.edx) &= ~row.mask;
    EXPECT_EQ(cpuinfo_has_feature(row.name), 0);
  }
}

TEST_F(FeatureTest, SelectRegisterPicksByNumberAndAnyOtherIsEdx) {
  const CpuidResult r = {10, 11, 12, 13};
  const struct {
    int32_t selector;
    uint32_t value;
  } cases[] = {{0, 10}, {1, 11}, {2, 12}, {3, 13}, {4, 13}, {-1, 13}, {INT32_MAX, 13}};
  for (const auto& c : cases) EXPECT_EQ(select_register(r, c.selector), c.value) << c.selector;
}

TEST_F(FeatureTest, X64ComparesTheHighestExtendedLeafUnsigned) {
  const struct {
    uint32_t highest;
    uint32_t edx;
    int expected;
    size_t cpuids;
  } cases[] = {
      {0, 1u << 29, 0, 1},          {13, 1u << 29, 0, 1},         {0x7FFFFFFF, 1u << 29, 0, 1},
      {0x80000000, 1u << 29, 0, 1}, {0x80000001, 1u << 29, 1, 2}, {0x80000001, ~(1u << 29), 0, 2},
      {0xFFFFFFFF, 1u << 29, 1, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.highest);
    fake_processor_reset();
    fake_cpuid_set(0x80000000u, 0, c.highest, 0, 0, 0);
    fake_cpuid_set(0x80000001u, 0, 0, 0, 0, c.edx);
    // The table is not consulted: leaf 1 would say nothing about long mode.
    fake_cpuid_set(1, 0, ~0u, ~0u, ~0u, ~0u);
    EXPECT_EQ(cpuinfo_has_feature("x64"), c.expected);
    EXPECT_EQ(g_fake_cpu.queries.size(), c.cpuids);
    EXPECT_EQ(fake_cpuid_count(1), 0);
  }
}

TEST_F(FeatureTest, UnknownNamesAnswerMinusOneWithoutCpuid) {
  const std::string long_name(64 * 1024, 'a');
  const char* const names[] = {nullptr, "",     "SSE2",   "sse2 ",        " sse2",          "X64",
                               "x86",   "x64 ", "avx512", "hypervisor\n", long_name.c_str()};
  fake_cpuid_set(1, 0, ~0u, ~0u, ~0u, ~0u);
  for (const char* name : names) {
    EXPECT_EQ(cpuinfo_has_feature(name), -1) << (name ? std::string(name).substr(0, 16) : "null");
  }
  EXPECT_TRUE(g_fake_cpu.queries.empty());
}

}  // namespace
