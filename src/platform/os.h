// The operating-system seam. Each operation has the shape of the Windows call
// that it stands for, so the logic above keeps the Windows protocol on every
// platform: os_windows.cpp forwards to Win32, os_linux.cpp answers the same
// questions from Linux, and tests link fakes.
#ifndef VELQUORN_PLATFORM_OS_H
#define VELQUORN_PLATFORM_OS_H

#include <stddef.h>
#include <stdint.h>

extern "C" {

// Win32 values that the logic relies on.
constexpr uint32_t kOsErrorFileNotFound = 2;          // ERROR_FILE_NOT_FOUND
constexpr uint32_t kOsErrorInsufficientBuffer = 122;  // ERROR_INSUFFICIENT_BUFFER
constexpr uint32_t kOsErrorMoreData = 234;            // ERROR_MORE_DATA
constexpr uint32_t kOsRelationProcessorCore = 0;      // RelationProcessorCore
constexpr uint32_t kOsKeyRead = 0x20019;              // KEY_READ

// The registry value that records processor 0's clock in MHz, under
// HKEY_LOCAL_MACHINE.
constexpr const char kOsProcessorKey[] = "HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0";
constexpr const char kOsMhzValue[] = "~MHz";

// A registry key handle (HKEY).
typedef struct OsKeyOpaque* OsKey;

// HKEY_LOCAL_MACHINE.
OsKey os_key_local_machine(void);

// The part of SYSTEM_INFO that the library reads.
struct OsSystemInfo {
  uint32_t number_of_processors;  // dwNumberOfProcessors
};

// GetSystemInfo.
void os_get_system_info(OsSystemInfo* info);

// GetLogicalProcessorInformationEx(RelationProcessorCore, buffer, length):
// non-zero on success with *length set to the bytes written; 0 on failure,
// with os_get_last_error() giving 122 and *length the size needed when the
// buffer is null or too small.
int os_get_core_list(void* buffer, uint32_t* length);

// GetLastError.
uint32_t os_get_last_error(void);

// GetProcessHeap, HeapAlloc (null on failure) and HeapFree (non-zero on
// success).
void* os_get_process_heap(void);
void* os_heap_alloc(void* heap, uint32_t flags, size_t bytes);
int os_heap_free(void* heap, uint32_t flags, void* memory);

// QueryPerformanceFrequency and QueryPerformanceCounter.
int os_query_performance_frequency(int64_t* frequency);
int os_query_performance_counter(int64_t* count);

// Sleep.
void os_sleep(uint32_t milliseconds);

// RegOpenKeyExA, RegQueryValueExA and RegCloseKey: 0 on success, else a
// Win32 error code.
int32_t os_reg_open_key(OsKey root, const char* sub_key, uint32_t options, uint32_t access,
                        OsKey* result);
int32_t os_reg_query_value(OsKey key, const char* value_name, uint32_t* reserved, uint32_t* type,
                           uint8_t* data, uint32_t* data_size);
int32_t os_reg_close_key(OsKey key);

}  // extern "C"

#endif  // VELQUORN_PLATFORM_OS_H
