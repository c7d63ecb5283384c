#include "probe/clock.h"

#include <limits.h>
#include <stdint.h>

#include "platform/os.h"
#include "platform/processor.h"
#include "velquorn/cpuinfo.h"

namespace {

// CPUID.16h: EAX 15:0 base MHz, EBX 15:0 maximum MHz.
constexpr uint32_t kFrequencyLeaf = 0x16;
constexpr uint32_t kMeasureMs = 50;

// "~MHz" of processor 0, as Windows records it; 0 when absent.
int registry_base_mhz() {
  OsKey key = nullptr;
  if (os_reg_open_key(os_key_local_machine(), kOsProcessorKey, 0, kOsKeyRead, &key) != 0) return 0;
  uint32_t mhz = 0, size = sizeof mhz;
  const int32_t status = os_reg_query_value(key, kOsMhzValue, nullptr, nullptr,
                                            reinterpret_cast<uint8_t*>(&mhz), &size);
  os_reg_close_key(key);
  return status == 0 ? static_cast<int>(mhz) : 0;
}

}  // namespace

extern "C" {

ClockInfo read_nominal_clocks(void) {
  ClockInfo clocks = {0, 0};
  if (cpuid_query(0, 0).eax >= kFrequencyLeaf) {
    const CpuidResult r = cpuid_query(kFrequencyLeaf, 0);
    clocks.base_mhz = static_cast<int>(r.eax & 0xFFFF);
    clocks.max_mhz = static_cast<int>(r.ebx & 0xFFFF);
    if (clocks.base_mhz != 0) return clocks;
  }
  clocks.base_mhz = registry_base_mhz();
  return clocks;
}

int cpuinfo_current_mhz(void) {
  int64_t freq = 0, c0 = 0, c1 = 0;
  os_query_performance_frequency(&freq);
  os_query_performance_counter(&c0);
  const uint64_t t0 = read_tsc();
  os_sleep(kMeasureMs);
  os_query_performance_counter(&c1);
  const uint64_t t1 = read_tsc();

  // The counter difference in signed 64-bit arithmetic, wrapping as the
  // hardware counter would rather than overflowing.
  const int64_t ticks = static_cast<int64_t>(static_cast<uint64_t>(c1) - static_cast<uint64_t>(c0));
  const double seconds = static_cast<double>(ticks) / static_cast<double>(freq);
  if (seconds <= 0.0) return -1;
  const double cycles = static_cast<double>(t1 - t0);
  const double mhz = (cycles / seconds) / 1000000.0;
  // NaN fails both comparisons; so does anything whose truncation leaves int.
  if (!(mhz > static_cast<double>(INT_MIN) - 1.0 && mhz < static_cast<double>(INT_MAX) + 1.0))
    return INT_MIN;
  return static_cast<int>(mhz);
}

}  // extern "C"
