// Core counts and clock rates on this machine's processor and operating
// system, through the real seams (Win32 under Windows or Wine, the Linux
// layer elsewhere).
#include <gtest/gtest.h>
#include <stdint.h>
#include <string.h>

#include <set>
#include <string>
#include <vector>

#include "direct_cpuid.h"
#include "machine_facts.h"
#include "platform/os.h"
#include "probe/clock.h"
#include "topology/cores.h"
#include "velquorn/cpuinfo.h"

namespace {

constexpr char kProcessorKey[] = "HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0";

TEST(MachineTopology, LogicalCountIsTheOnlineProcessorCount) {
  std::string why;
  const int stated = stated_logical_count(&why);
  if (stated < 0) GTEST_SKIP() << why;
  const int logical = cpuinfo_logical_cores();
  EXPECT_EQ(logical, stated);
  RecordProperty("logical_cores", logical);
}

TEST(MachineTopology, CoreListAnswersTheSizeProbeThenTheRecords) {
#if !defined(_WIN32)
  std::set<std::vector<int>> stated;
  std::string why;
  if (!linux_cores(&stated, &why)) GTEST_SKIP() << why << ": the core list is unavailable";
#endif
  uint32_t length = 0;
  EXPECT_EQ(os_get_core_list(nullptr, &length), 0);
  ASSERT_EQ(os_get_last_error(), kOsErrorInsufficientBuffer);
  ASSERT_GT(length, 0u);

  std::vector<uint8_t> buffer(length);
  const uint32_t capacity = length;
  ASSERT_NE(os_get_core_list(buffer.data(), &length), 0);
  ASSERT_GT(length, 0u);
  ASSERT_LE(length, capacity);

  // Every record is a processor core with a Size that stays inside the list.
  int cores = 0;
  for (uint32_t offset = 0; offset < length;) {
    ASSERT_GE(length - offset, 8u);
    uint32_t relationship, size;
    memcpy(&relationship, &buffer[offset], 4);
    memcpy(&size, &buffer[offset + 4], 4);
    EXPECT_EQ(relationship, kOsRelationProcessorCore);
    ASSERT_GE(size, 8u);
    ASSERT_LE(size, length - offset);
    offset += size;
    ++cores;
  }
  EXPECT_EQ(count_physical_cores(), cores);
#if !defined(_WIN32)
  // One record for each distinct sibling list that sysfs states.
  EXPECT_EQ(static_cast<size_t>(cores), stated.size());
#endif
  RecordProperty("core_list_bytes", static_cast<int>(length));
}

TEST(MachineTopology, PhysicalCountIsAtLeastOne) {
  const int physical = count_physical_cores();
  EXPECT_GE(physical, 1);
#if !defined(_WIN32)
  // Only Windows processor groups let the core list cover more processors
  // than the logical count.
  EXPECT_LE(physical, cpuinfo_logical_cores());
#endif
  RecordProperty("physical_cores", physical);
}

// CPUID.16h: EAX 15:0 base MHz, EBX 15:0 maximum MHz; zeros when absent.
CpuidResult leaf16() {
  return direct_cpuid(0, 0).eax >= 0x16 ? direct_cpuid(0x16, 0) : CpuidResult{0, 0, 0, 0};
}

TEST(MachineClock, MaximumAndStatedBaseComeFromLeaf16) {
  const ClockInfo clocks = read_nominal_clocks();
  EXPECT_EQ(clocks.max_mhz, static_cast<int>(leaf16().ebx & 0xFFFF));
  const int base = static_cast<int>(leaf16().eax & 0xFFFF);
  if (base == 0) GTEST_SKIP() << "CPUID leaf 0x16 states no base clock (max_mhz checked)";
  EXPECT_EQ(clocks.base_mhz, base);
  RecordProperty("base_mhz", clocks.base_mhz);
}

#if defined(_WIN32)
// Without a leaf 0x16 base, base_mhz is the "~MHz" that Windows records.
TEST(MachineClock, BaseElseTheRecordedTildeMhz) {
  if ((leaf16().eax & 0xFFFF) != 0) GTEST_SKIP() << "CPUID leaf 0x16 states the base clock";
  OsKey key = nullptr;
  uint32_t mhz = 0, size = sizeof mhz;
  if (os_reg_open_key(os_key_local_machine(), kProcessorKey, 0, kOsKeyRead, &key) == 0) {
    if (os_reg_query_value(key, "~MHz", nullptr, nullptr, reinterpret_cast<uint8_t*>(&mhz),
                           &size) != 0)
      mhz = 0;
    os_reg_close_key(key);
  }
  EXPECT_EQ(read_nominal_clocks().base_mhz, static_cast<int>(mhz));
}
#else
// Without a leaf 0x16 base, base_mhz is the nominal clock that the kernel
// states, the same in every report.
TEST(MachineClock, BaseElseTheKernelsNominalClock) {
  if ((leaf16().eax & 0xFFFF) != 0) GTEST_SKIP() << "CPUID leaf 0x16 states the base clock";
  int mhz = 0;
  std::string source, why;
  if (!linux_stated_nominal_mhz(&mhz, &source, &why)) GTEST_SKIP() << why;
  EXPECT_EQ(read_nominal_clocks().base_mhz, mhz) << source;
  EXPECT_EQ(read_nominal_clocks().base_mhz, mhz) << source;
  RecordProperty("nominal_source", source);
}

// Neither: the cpu MHz line of /proc/cpuinfo, which may move between reads.
TEST(MachineClock, BaseElseCpuinfosCpuMhz) {
  if ((leaf16().eax & 0xFFFF) != 0) GTEST_SKIP() << "CPUID leaf 0x16 states the base clock";
  int mhz = 0;
  std::string source, why;
  if (linux_stated_nominal_mhz(&mhz, &source, &why))
    GTEST_SKIP() << "the kernel states a nominal clock in " << source;
  if (!linux_cpuinfo_has_cpu_mhz()) {
    EXPECT_EQ(read_nominal_clocks().base_mhz, 0);
    GTEST_SKIP() << "no cpu MHz line for processor 0 in /proc/cpuinfo (base_mhz 0 checked)";
  }
  const int base = read_nominal_clocks().base_mhz;
  EXPECT_GT(base, 0);
  EXPECT_LT(base, 100000);
}
#endif

TEST(MachineClock, ProcessorZerosTildeMhzOpensAndReads) {
#if !defined(_WIN32)
  int stated = 0;
  std::string source, why;
  if (!linux_stated_nominal_mhz(&stated, &source, &why) && !linux_cpuinfo_has_cpu_mhz())
    GTEST_SKIP() << why << ", and no cpu MHz line in /proc/cpuinfo: no ~MHz";
#endif
  OsKey key = nullptr;
  ASSERT_EQ(os_reg_open_key(os_key_local_machine(), kProcessorKey, 0, kOsKeyRead, &key), 0);
  uint32_t mhz = 0, size = sizeof mhz;
  EXPECT_EQ(
      os_reg_query_value(key, "~MHz", nullptr, nullptr, reinterpret_cast<uint8_t*>(&mhz), &size),
      0);
  EXPECT_EQ(size, 4u);
  EXPECT_GT(mhz, 0u);
  EXPECT_EQ(os_reg_close_key(key), 0);
  RecordProperty("registry_mhz", static_cast<int>(mhz));
}

TEST(MachineClock, CounterRunsAcrossTheSleep) {
  int64_t frequency = 0, c0 = 0, c1 = 0;
  os_query_performance_frequency(&frequency);
  EXPECT_GT(frequency, 0);
  os_query_performance_counter(&c0);
  os_sleep(50);
  os_query_performance_counter(&c1);
  EXPECT_GT(c1, c0);
}

TEST(MachineClock, MeasuredRateIsPositive) {
  const int mhz = cpuinfo_current_mhz();
  EXPECT_GT(mhz, 0);
  RecordProperty("current_mhz", mhz);
}

}  // namespace
