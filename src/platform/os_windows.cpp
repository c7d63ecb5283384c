// The operating-system seam on Windows: one-line forwards to Win32, all
// imported when the module loads.
#include "platform/os.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

static_assert(sizeof(DWORD) == sizeof(uint32_t), "DWORD is 32 bits");
static_assert(sizeof(LARGE_INTEGER) == sizeof(int64_t), "LARGE_INTEGER is 64 bits");

extern "C" {

OsKey os_key_local_machine(void) { return reinterpret_cast<OsKey>(HKEY_LOCAL_MACHINE); }

void os_get_system_info(OsSystemInfo* info) {
  SYSTEM_INFO si;
  GetSystemInfo(&si);
  info->number_of_processors = si.dwNumberOfProcessors;
}

int os_get_core_list(void* buffer, uint32_t* length) {
  return GetLogicalProcessorInformationEx(
      RelationProcessorCore, static_cast<PSYSTEM_LOGICAL_PROCESSOR_INFORMATION_EX>(buffer),
      reinterpret_cast<PDWORD>(length));
}

uint32_t os_get_last_error(void) { return GetLastError(); }

void* os_get_process_heap(void) { return GetProcessHeap(); }

void* os_heap_alloc(void* heap, uint32_t flags, size_t bytes) {
  return HeapAlloc(static_cast<HANDLE>(heap), flags, bytes);
}

int os_heap_free(void* heap, uint32_t flags, void* memory) {
  return HeapFree(static_cast<HANDLE>(heap), flags, memory);
}

int os_query_performance_frequency(int64_t* frequency) {
  return QueryPerformanceFrequency(reinterpret_cast<LARGE_INTEGER*>(frequency));
}

int os_query_performance_counter(int64_t* count) {
  return QueryPerformanceCounter(reinterpret_cast<LARGE_INTEGER*>(count));
}

void os_sleep(uint32_t milliseconds) { Sleep(milliseconds); }

int32_t os_reg_open_key(OsKey root, const char* sub_key, uint32_t options, uint32_t access,
                        OsKey* result) {
  return RegOpenKeyExA(reinterpret_cast<HKEY>(root), sub_key, options, access,
                       reinterpret_cast<PHKEY>(result));
}

int32_t os_reg_query_value(OsKey key, const char* value_name, uint32_t* reserved, uint32_t* type,
                           uint8_t* data, uint32_t* data_size) {
  return RegQueryValueExA(reinterpret_cast<HKEY>(key), value_name,
                          reinterpret_cast<LPDWORD>(reserved), reinterpret_cast<LPDWORD>(type),
                          data, reinterpret_cast<LPDWORD>(data_size));
}

int32_t os_reg_close_key(OsKey key) { return RegCloseKey(reinterpret_cast<HKEY>(key)); }

}  // extern "C"
