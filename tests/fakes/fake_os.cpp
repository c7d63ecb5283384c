#include "fake_os.h"

#include <stdlib.h>
#include <string.h>

#include "platform/processor.h"

FakeOs g_fake_os;

namespace {

char g_fake_heap;
char g_fake_key;

template <typename T>
T next_reading(const std::vector<T>& readings, size_t* index) {
  if (readings.empty()) return 0;
  const size_t i = *index < readings.size() ? *index : readings.size() - 1;
  ++*index;
  return readings[i];
}

}  // namespace

void fake_os_reset() {
  g_fake_os = FakeOs{};
  g_fake_os.processor_counts = {1};
  g_fake_os.probe_error = 1;
  g_fake_os.frequency = 1000000000;
  g_fake_os.reg_open_result = 2;
  g_fake_os.reg_value_size = 4;
}

void fake_os_add_record(uint32_t relationship, uint32_t size) {
  const size_t at = g_fake_os.core_list.size();
  g_fake_os.core_list.resize(at + size);
  if (size >= 4) memcpy(&g_fake_os.core_list[at], &relationship, 4);
  if (size >= 8) memcpy(&g_fake_os.core_list[at + 4], &size, 4);
}

extern "C" {

uint64_t read_tsc(void) {
  g_fake_os.timing_calls += 't';
  return next_reading(g_fake_os.tscs, &g_fake_os.tsc_reads);
}

OsKey os_key_local_machine(void) {
  return reinterpret_cast<OsKey>(static_cast<uintptr_t>(0x80000002u));
}

void os_get_system_info(OsSystemInfo* info) {
  const auto& counts = g_fake_os.processor_counts;
  const size_t i = static_cast<size_t>(g_fake_os.system_info_calls++);
  info->number_of_processors =
      counts.empty() ? 0 : counts[i < counts.size() ? i : counts.size() - 1];
}

int os_get_core_list(void* buffer, uint32_t* length) {
  ++g_fake_os.core_list_calls;
  const uint32_t size = static_cast<uint32_t>(g_fake_os.core_list.size());
  if (buffer == nullptr) {
    *length = g_fake_os.probe_length_set ? g_fake_os.probe_length : size;
    g_fake_os.last_error = g_fake_os.probe_error;
    return 0;
  }
  g_fake_os.fill_length_given = *length;
  if (g_fake_os.fill_fails) return 0;
  // An empty list's data() may be null, which memcpy must not be given.
  if (size != 0) memcpy(buffer, g_fake_os.core_list.data(), size < *length ? size : *length);
  *length = g_fake_os.fill_length_set ? g_fake_os.fill_length : size;
  return 1;
}

uint32_t os_get_last_error(void) { return g_fake_os.last_error; }

void* os_get_process_heap(void) { return &g_fake_heap; }

void* os_heap_alloc(void* heap, uint32_t, size_t bytes) {
  if (heap != &g_fake_heap || g_fake_os.fail_alloc) return nullptr;
  ++g_fake_os.allocs;
  ++g_fake_os.live_blocks;
  g_fake_os.alloc_sizes.push_back(static_cast<uint32_t>(bytes));
  return malloc(bytes);
}

int os_heap_free(void* heap, uint32_t, void* memory) {
  if (heap != &g_fake_heap || memory == nullptr) return 0;
  ++g_fake_os.frees;
  --g_fake_os.live_blocks;
  free(memory);
  return 1;
}

int os_query_performance_frequency(int64_t* frequency) {
  g_fake_os.timing_calls += 'f';
  *frequency = g_fake_os.frequency;
  return 1;
}

int os_query_performance_counter(int64_t* count) {
  g_fake_os.timing_calls += 'c';
  *count = next_reading(g_fake_os.counters, &g_fake_os.counter_reads);
  return 1;
}

void os_sleep(uint32_t milliseconds) {
  g_fake_os.timing_calls += 's';
  g_fake_os.sleeps.push_back(milliseconds);
}

int32_t os_reg_open_key(OsKey root, const char* sub_key, uint32_t, uint32_t access, OsKey* result) {
  ++g_fake_os.reg_opens;
  g_fake_os.reg_access = access;
  if (root != os_key_local_machine() ||
      strcmp(sub_key, "HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0") != 0)
    return 2;
  if (g_fake_os.reg_open_result != 0) return g_fake_os.reg_open_result;
  *result = reinterpret_cast<OsKey>(&g_fake_key);
  return 0;
}

int32_t os_reg_query_value(OsKey key, const char* value_name, uint32_t* reserved, uint32_t* type,
                           uint8_t* data, uint32_t* data_size) {
  ++g_fake_os.reg_queries;
  g_fake_os.reg_query_reserved_given = reserved != nullptr;
  g_fake_os.reg_query_type_given = type != nullptr;
  if (key != reinterpret_cast<OsKey>(&g_fake_key) || strcmp(value_name, "~MHz") != 0) return 2;
  if (g_fake_os.reg_query_result != 0) return g_fake_os.reg_query_result;
  if (*data_size < g_fake_os.reg_value_size) {
    *data_size = g_fake_os.reg_value_size;
    return 234;
  }
  memcpy(data, &g_fake_os.reg_value, 4);
  *data_size = 4;
  return 0;
}

int32_t os_reg_close_key(OsKey key) {
  if (key != reinterpret_cast<OsKey>(&g_fake_key)) return 6;
  ++g_fake_os.reg_closes;
  return 0;
}

}  // extern "C"
