// The Linux layer's inner functions, with the places they read as parameters
// so that tests can point them at a fake sysfs tree and a fake cpuinfo file.
#ifndef VELQUORN_PLATFORM_OS_LINUX_H
#define VELQUORN_PLATFORM_OS_LINUX_H

#include <stdint.h>

extern "C" {

// Size of one core record: SYSTEM_LOGICAL_PROCESSOR_INFORMATION_EX holding a
// PROCESSOR_RELATIONSHIP with one GROUP_AFFINITY.
constexpr uint32_t kOsCoreRecordSize = 48;

// The core list built from cpu_root (normally "/sys/devices/system/cpu"):
// one record for each online CPU that is the first CPU of its
// topology/core_cpus_list (older kernels: thread_siblings_list). Returns
// non-zero on success; on failure returns 0 and stores the Win32 error code in
// *error (122 with *length set to the size needed when the buffer is null or
// too small, 2 when the topology cannot be read).
int os_linux_core_list(const char* cpu_root, void* buffer, uint32_t* length, uint32_t* error);

// The base clock in MHz: cpu_root/cpu0/cpufreq/base_frequency (kHz), else the
// first "cpu MHz" line of cpuinfo_path, truncated. Returns 0 when neither
// gives a number.
int os_linux_read_mhz(const char* cpu_root, const char* cpuinfo_path, uint32_t* mhz);

}  // extern "C"

#endif  // VELQUORN_PLATFORM_OS_LINUX_H
