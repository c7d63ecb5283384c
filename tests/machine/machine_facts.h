// What this machine's operating system states about its processors, read by
// the tests themselves rather than through the library, so that the machine
// tests compare the library with an independent reading. Where a statement
// is absent, the reader says so in `why` and the test skips with it.
#ifndef VELQUORN_TESTS_MACHINE_FACTS_H
#define VELQUORN_TESTS_MACHINE_FACTS_H

#include <set>
#include <string>
#include <vector>

#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <stdlib.h>

#include <fstream>
#include <sstream>
#endif

#if !defined(_WIN32)

constexpr char kCpuRoot[] = "/sys/devices/system/cpu";

// The whole of a small file; false when it cannot be read.
inline bool read_text(const std::string& path, std::string* text) {
  std::ifstream in(path);
  if (!in) return false;
  std::ostringstream all;
  all << in.rdbuf();
  *text = all.str();
  return !in.bad();
}

// A kernel CPU list such as "0-3,8\n".
inline bool read_linux_cpu_list(const std::string& path, std::vector<int>* cpus) {
  std::string text;
  if (!read_text(path, &text)) return false;
  std::istringstream in(text);
  cpus->clear();
  for (std::string part; std::getline(in, part, ',');) {
    int first = -1, last = -1;
    char dash = 0;
    std::istringstream range(part);
    range >> first;
    if (range >> dash) range >> last;
    if (first < 0 || (dash != 0 && (dash != '-' || last < first))) return false;
    for (int cpu = first; cpu <= (dash != 0 ? last : first); ++cpu) cpus->push_back(cpu);
  }
  return !cpus->empty();
}

// The cores of the online CPUs, each the set of CPUs in its sibling list.
inline bool linux_cores(std::set<std::vector<int>>* cores, std::string* why) {
  std::vector<int> online;
  if (!read_linux_cpu_list(std::string(kCpuRoot) + "/online", &online)) {
    *why = "no readable /sys/devices/system/cpu/online";
    return false;
  }
  for (int cpu : online) {
    const std::string topology = std::string(kCpuRoot) + "/cpu" + std::to_string(cpu) + "/topology";
    std::vector<int> siblings;
    if (!read_linux_cpu_list(topology + "/core_cpus_list", &siblings) &&
        !read_linux_cpu_list(topology + "/thread_siblings_list", &siblings)) {
      *why = "no readable sibling list in " + topology;
      return false;
    }
    cores->insert(siblings);
  }
  return true;
}

// The nominal clock that the kernel states for CPU 0, in MHz: cpufreq's
// base_frequency (kHz) or ACPI CPPC's nominal_freq (MHz).
inline bool linux_stated_nominal_mhz(int* mhz, std::string* source, std::string* why) {
  const struct {
    const char* file;
    int per_mhz;
  } sources[] = {{"/cpu0/cpufreq/base_frequency", 1000}, {"/cpu0/acpi_cppc/nominal_freq", 1}};
  for (const auto& s : sources) {
    std::string text;
    if (!read_text(std::string(kCpuRoot) + s.file, &text)) continue;
    const long value = strtol(text.c_str(), nullptr, 10);
    if (value / s.per_mhz > 0) {
      *mhz = static_cast<int>(value / s.per_mhz);
      *source = s.file;
      return true;
    }
  }
  *why = "no cpufreq base_frequency and no acpi_cppc nominal_freq for cpu0";
  return false;
}

// Whether /proc/cpuinfo has a "cpu MHz" line in processor 0's block.
inline bool linux_cpuinfo_has_cpu_mhz() {
  std::ifstream in("/proc/cpuinfo");
  int processors = 0;
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("processor", 0) == 0 && ++processors > 1) break;
    if (line.rfind("cpu MHz", 0) == 0) return true;
  }
  return false;
}

#endif  // !_WIN32

// The number of logical processors of the calling thread's processor group;
// -1 when it cannot be had independently.
inline int stated_logical_count(std::string* why) {
#if defined(_WIN32)
  if (GetActiveProcessorGroupCount() != 1) {
    *why = "several processor groups: only the calling thread's group counts";
    return -1;
  }
  return static_cast<int>(GetActiveProcessorCount(ALL_PROCESSOR_GROUPS));
#else
  std::vector<int> online;
  if (!read_linux_cpu_list("/sys/devices/system/cpu/online", &online)) {
    *why = "no readable /sys/devices/system/cpu/online";
    return -1;
  }
  return static_cast<int>(online.size());
#endif
}

#endif  // VELQUORN_TESTS_MACHINE_FACTS_H
