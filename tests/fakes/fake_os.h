// An operating system whose every answer and failure the test sets, and
// which counts what the library asked of it. Also the fake time-stamp counter.
#ifndef VELQUORN_TESTS_FAKE_OS_H
#define VELQUORN_TESTS_FAKE_OS_H

#include <stdint.h>

#include <string>
#include <vector>

#include "platform/os.h"

struct FakeOs {
  // GetSystemInfo: the i-th call answers processor_counts[i]; the last entry
  // repeats.
  std::vector<uint32_t> processor_counts;
  int system_info_calls;

  // GetLogicalProcessorInformationEx. A call with a null buffer stores
  // probe_length (default: core_list.size()) and sets the last error to
  // probe_error. A call with a buffer fails (returns 0) when fill_fails;
  // otherwise copies core_list (as much as fits) and stores fill_length
  // (default: core_list.size()).
  std::vector<uint8_t> core_list;
  bool probe_length_set;
  uint32_t probe_length;
  uint32_t probe_error;
  bool fill_fails;
  bool fill_length_set;
  uint32_t fill_length;
  uint32_t fill_length_given;  // *length passed to the call with a buffer
  int core_list_calls;
  uint32_t last_error;

  // Heap.
  bool fail_alloc;
  int allocs;
  int frees;
  std::vector<uint32_t> alloc_sizes;
  int live_blocks;

  // QueryPerformanceFrequency/Counter and RDTSC: readings are taken in order;
  // past the end, the last one repeats.
  int64_t frequency;
  std::vector<int64_t> counters;
  size_t counter_reads;
  std::vector<uint64_t> tscs;
  size_t tsc_reads;
  std::vector<uint32_t> sleeps;
  // The timing calls in order: 'f' frequency, 'c' counter, 't' time-stamp
  // counter, 's' sleep.
  std::string timing_calls;

  // Registry: "~MHz" of processor 0.
  int32_t reg_open_result;
  int32_t reg_query_result;
  uint32_t reg_value;
  uint32_t reg_value_size;  // bytes the value holds; above 4 the query fails with 234
  int reg_opens;
  int reg_queries;
  int reg_closes;
  uint32_t reg_access;            // access mask of the last open
  bool reg_query_reserved_given;  // the last query passed a non-null reserved argument
  bool reg_query_type_given;      // the last query asked for the value's type
};

extern FakeOs g_fake_os;

// Every fixture calls this in SetUp: one processor, no core list (probe fails
// with error 1), frequency 10^9, counters 0, registry open fails.
void fake_os_reset();

// Appends a core-list record of `size` bytes with the given Relationship.
void fake_os_add_record(uint32_t relationship, uint32_t size);

#endif  // VELQUORN_TESTS_FAKE_OS_H
