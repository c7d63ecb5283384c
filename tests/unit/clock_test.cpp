// Declared and measured clock rates against the fake processor and operating
// system.
#include "probe/clock.h"

#include <gtest/gtest.h>
#include <limits.h>
#include <stdint.h>

#include <vector>

#include "fake_os.h"
#include "fake_processor.h"
#include "velquorn/cpuinfo.h"

namespace {

class ClockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake_processor_reset();
    fake_os_reset();
  }
};

struct NominalRow {
  const char* name;
  uint32_t max_basic;     // CPUID.0:EAX
  uint32_t eax16, ebx16;  // CPUID.16h:EAX (base) and EBX (maximum)
  int32_t open_result;    // RegOpenKeyExA answer
  int32_t query_result;   // RegQueryValueExA answer (before the size check)
  uint32_t value_size;    // bytes that "~MHz" holds; above 4 the query gives 234
  int base_mhz, max_mhz;  // expected
  int leaf16_queries;     // expected
  int reg_opens;          // expected
};

// The registry's "~MHz" is 2400 in every row; it only shows where it is read.
const NominalRow kNominalRows[] = {
    {"highest leaf 0x15: leaf 0x16 unread, base from the registry", 0x15, 3000, 4000, 0, 0, 4, 2400,
     0, 0, 1},
    {"highest leaf 0x16 declaring base and maximum", 0x16, 3000, 4000, 0, 0, 4, 3000, 4000, 1, 0},
    {"leaf 0x16 base 0, maximum 3500 kept", 0x16, 0, 3500, 0, 0, 4, 2400, 3500, 1, 1},
    {"leaf 0x16 all zero", 0x1F, 0, 0, 0, 0, 4, 2400, 0, 1, 1},
    {"bits 31:16 of EAX and EBX ignored", 0x16, 0xABCD0BB8, 0x12340FA0, 0, 0, 4, 3000, 4000, 1, 0},
    {"bits 31:16 only: base 0 goes to the registry", 0x16, 0xFFFF0000, 0xFFFF0000, 0, 0, 4, 2400, 0,
     1, 1},
    {"highest leaf 0x80000000 counts as above 0x16", 0x80000000, 2100, 4200, 0, 0, 4, 2100, 4200, 1,
     0},
    {"registry key missing", 0x15, 0, 0, 2, 0, 4, 0, 0, 0, 1},
    {"registry open denied", 0x16, 0, 3500, 5, 0, 4, 0, 3500, 1, 1},
    {"value missing", 0x15, 0, 0, 0, 2, 4, 0, 0, 0, 1},
    {"value of 8 bytes", 0x15, 0, 0, 0, 0, 8, 0, 0, 0, 1},
};

TEST_F(ClockTest, NominalClocksFromLeaf16ElseTheRegistry) {
  for (const NominalRow& row : kNominalRows) {
    SCOPED_TRACE(row.name);
    fake_processor_reset();
    fake_os_reset();
    fake_cpuid_set(0, 0, row.max_basic, 0, 0, 0);
    fake_cpuid_set(0x16, 0, row.eax16, row.ebx16, 0, 0);
    g_fake_os.reg_open_result = row.open_result;
    g_fake_os.reg_query_result = row.query_result;
    g_fake_os.reg_value = 2400;
    g_fake_os.reg_value_size = row.value_size;

    const ClockInfo clocks = read_nominal_clocks();
    EXPECT_EQ(clocks.base_mhz, row.base_mhz);
    EXPECT_EQ(clocks.max_mhz, row.max_mhz);
    EXPECT_EQ(fake_cpuid_count(0), 1);
    EXPECT_EQ(fake_cpuid_count(0x16), row.leaf16_queries);
    EXPECT_EQ(g_fake_os.reg_opens, row.reg_opens);
    // Queried and closed exactly when the open succeeded.
    const int opened = row.reg_opens == 1 && row.open_result == 0 ? 1 : 0;
    EXPECT_EQ(g_fake_os.reg_queries, opened);
    EXPECT_EQ(g_fake_os.reg_closes, opened);
    if (row.reg_opens != 0) {
      EXPECT_EQ(g_fake_os.reg_access, 0x20019u);  // KEY_READ
    }
    // "~MHz" is read with no reserved argument and without asking its type.
    EXPECT_FALSE(g_fake_os.reg_query_reserved_given);
    EXPECT_FALSE(g_fake_os.reg_query_type_given);
  }
}

struct MeasureRow {
  const char* name;
  int64_t frequency;              // QueryPerformanceFrequency
  std::vector<int64_t> counters;  // QueryPerformanceCounter, in order
  std::vector<uint64_t> tscs;     // RDTSC, in order
  int expected;
};

const MeasureRow kMeasureRows[] = {
    {"39,990,000 cycles in 0.05 s is 799.8 MHz, truncated",
     1000000000,
     {0, 50000000},
     {1000, 1000 + 39990000},
     799},
    {"2,600,000,000 cycles/s over 0.05 s at 10 MHz counts",
     10000000,
     {7000, 7000 + 500000},
     {1000000, 1000000 + 130000000},
     2600},
    {"counter wrapping past the largest int64",
     1000,
     {INT64_MAX - 10, INT64_MIN + 39},
     {0, 39990000},
     799},
    {"time-stamp counter wrapping past 2^64",
     1000000000,
     {0, 50000000},
     {UINT64_MAX - 999, 39990000 - 1000},
     799},
    {"counter not advancing", 1000000000, {100, 100}, {0, 1000}, -1},
    {"counter going backwards", 1000000000, {200, 100}, {0, 1000}, -1},
    {"frequency 0 and a still counter: not a number", 0, {100, 100}, {0, 1000}, INT_MIN},
    {"second time-stamp one below the first", 1000000000, {0, 50000000}, {5000, 4999}, INT_MIN},
    {"exactly 2147483647 MHz", 1, {0, 1}, {0, 2147483647000000}, INT_MAX},
    {"2147483648 MHz does not fit", 1, {0, 1}, {0, 2147483648000000}, INT_MIN},
    {"3 million cycles in one nanosecond", 1000000000, {0, 1}, {0, 3000000}, INT_MIN},
    {"no cycles", 1000000000, {0, 50000000}, {42, 42}, 0},
};

TEST_F(ClockTest, MeasuredRateIsTimeStampCyclesOverCounterSeconds) {
  for (const MeasureRow& row : kMeasureRows) {
    SCOPED_TRACE(row.name);
    fake_os_reset();
    g_fake_os.frequency = row.frequency;
    g_fake_os.counters = row.counters;
    g_fake_os.tscs = row.tscs;
    EXPECT_EQ(cpuinfo_current_mhz(), row.expected);
    EXPECT_EQ(g_fake_os.counter_reads, 2u);
    EXPECT_EQ(g_fake_os.tsc_reads, 2u);
  }
}

TEST_F(ClockTest, MeasurementSleepsOnceBetweenTheTwoReadingPairs) {
  g_fake_os.counters = {0, 50000000};
  g_fake_os.tscs = {0, 100000000};
  EXPECT_EQ(cpuinfo_current_mhz(), 2000);
  EXPECT_EQ(g_fake_os.sleeps, std::vector<uint32_t>{50});
  // frequency, counter, time-stamp, sleep, counter, time-stamp
  EXPECT_EQ(g_fake_os.timing_calls, "fctsct");
}

}  // namespace
