// Core counts and clock rates on this machine's processor and operating
// system, through the real seams (Win32 under Windows or Wine, the Linux
// layer elsewhere).
#include <gtest/gtest.h>
#include <stdint.h>
#include <string.h>

#include <vector>

#include "direct_cpuid.h"
#include "platform/os.h"
#include "probe/clock.h"
#include "topology/cores.h"
#include "velquorn/cpuinfo.h"

#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace {

constexpr char kProcessorKey[] = "HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0";

TEST(MachineTopology, LogicalCountIsTheOnlineProcessorCount) {
  const int logical = cpuinfo_logical_cores();
#if defined(_WIN32)
  // dwNumberOfProcessors covers the calling thread's processor group.
  if (GetActiveProcessorGroupCount() == 1)
    EXPECT_EQ(static_cast<DWORD>(logical), GetActiveProcessorCount(ALL_PROCESSOR_GROUPS));
  else
    EXPECT_LE(static_cast<DWORD>(logical), GetActiveProcessorCount(ALL_PROCESSOR_GROUPS));
#else
  EXPECT_EQ(logical, sysconf(_SC_NPROCESSORS_ONLN));
#endif
  RecordProperty("logical_cores", logical);
}

TEST(MachineTopology, CoreListAnswersTheSizeProbeThenTheRecords) {
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

// CPUID leaf 0x16 where it states a base clock, else the system's recorded
// "~MHz" (on Linux its stand-in).
TEST(MachineClock, DeclaredClocksComeFromLeaf16ElseTheRecordedValue) {
  const ClockInfo clocks = read_nominal_clocks();
  const bool has_leaf16 = direct_cpuid(0, 0).eax >= 0x16;
  const CpuidResult leaf16 = has_leaf16 ? direct_cpuid(0x16, 0) : CpuidResult{0, 0, 0, 0};
  EXPECT_EQ(clocks.max_mhz, static_cast<int>(leaf16.ebx & 0xFFFF));
  if ((leaf16.eax & 0xFFFF) != 0) {
    EXPECT_EQ(clocks.base_mhz, static_cast<int>(leaf16.eax & 0xFFFF));
  } else {
    OsKey key = nullptr;
    uint32_t mhz = 0, size = sizeof mhz;
    if (os_reg_open_key(os_key_local_machine(), kProcessorKey, 0, kOsKeyRead, &key) == 0) {
      if (os_reg_query_value(key, "~MHz", nullptr, nullptr, reinterpret_cast<uint8_t*>(&mhz),
                             &size) != 0)
        mhz = 0;
      os_reg_close_key(key);
    }
    EXPECT_EQ(clocks.base_mhz, static_cast<int>(mhz));
  }
  RecordProperty("base_mhz", clocks.base_mhz);
  RecordProperty("max_mhz", clocks.max_mhz);
}

TEST(MachineClock, ProcessorZerosTildeMhzOpensAndReads) {
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
