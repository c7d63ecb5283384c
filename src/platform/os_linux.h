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
// one record for each online CPU that its topology/core_cpus_list (older
// kernels: thread_siblings_list) names after no other online CPU; the record
// holds the list's CPUs from it on. A CPU whose topology folder is gone went
// offline during the walk and is skipped.
// Returns non-zero on success; on failure returns 0 and stores the Win32
// error code in *error (122 with *length set to the size needed when the
// buffer is null or too small; 2 when online or a sibling list cannot be read
// or is malformed, or when no core is left).
int os_linux_core_list(const char* cpu_root, void* buffer, uint32_t* length, uint32_t* error);

// Processor 0's nominal clock in MHz, from the first of these that states
// one: cpu_root/cpu0/cpufreq/base_frequency (kHz, truncated),
// cpu_root/cpu0/acpi_cppc/nominal_freq (MHz), and as a last resort the
// "cpu MHz" line of processor 0 in cpuinfo_path, truncated. A file that is
// absent, unreadable, not one decimal number, or says 0 states nothing.
// Returns 0 when none gives a value.
int os_linux_read_mhz(const char* cpu_root, const char* cpuinfo_path, uint32_t* mhz);

}  // extern "C"

#endif  // VELQUORN_PLATFORM_OS_LINUX_H
