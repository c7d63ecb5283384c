#include "topology/cores.h"

#include <stdint.h>
#include <string.h>

#include "platform/os.h"
#include "velquorn/cpuinfo.h"

namespace {

// The leading members of SYSTEM_LOGICAL_PROCESSOR_INFORMATION_EX that the walk
// reads: Relationship, then Size (the distance to the next record).
constexpr uint32_t kRecordHeader = 8;

// Core records in a list of `length` bytes; -1 when a record is shorter than
// its header or runs past the end, so nothing outside the buffer is read.
int count_core_records(const uint8_t* list, uint32_t length) {
  int count = 0;
  uint32_t offset = 0;
  do {
    if (length - offset < kRecordHeader) return -1;
    uint32_t relationship, size;
    memcpy(&relationship, list + offset, 4);
    memcpy(&size, list + offset + 4, 4);
    if (size < kRecordHeader || size > length - offset) return -1;
    if (relationship == kOsRelationProcessorCore) ++count;
    offset += size;
  } while (offset < length);
  return count;
}

}  // namespace

extern "C" {

int cpuinfo_logical_cores(void) {
  OsSystemInfo info;
  os_get_system_info(&info);
  return static_cast<int>(info.number_of_processors);
}

int count_physical_cores(void) {
  uint32_t length = 0;
  os_get_core_list(nullptr, &length);
  int count = 0;
  if (os_get_last_error() == kOsErrorInsufficientBuffer && length != 0) {
    const uint32_t capacity = length;
    void* heap = os_get_process_heap();
    void* buffer = os_heap_alloc(heap, 0, capacity);
    if (buffer != nullptr) {
      // A list that claims more bytes than the buffer holds is not walked.
      if (os_get_core_list(buffer, &length) != 0 && length != 0 && length <= capacity)
        count = count_core_records(static_cast<const uint8_t*>(buffer), length);
      os_heap_free(heap, 0, buffer);
    }
  }
  if (count > 0) return count;
  return cpuinfo_logical_cores();
}

}  // extern "C"
