// Any bytes as a whole machine, then a full report: the report is g_json, holds
// a NUL within its 8192 bytes, is one valid document, empties the last-error
// text and leaves no heap block behind.
//
// Input layout, little-endian, zeros once the bytes run out:
//   u32 x2   processor counts of the first and second GetSystemInfo
//   u8       flags: 1 probe length given, 2 fill fails, 4 fill length given,
//            8 allocation fails
//   u32      last error after the size probe (122 asks for a buffer)
//   u32      probe length (below 64 KiB), u32 fill length
//   u16 n    then n bytes of core-list records
//   i64      counter frequency, i64 x2 counter readings, u64 x2 TSC readings
//   i32 x2   registry open and query results, u32 "~MHz", u32 its size
//   then 24-byte CPUID records: leaf, subleaf, EAX, EBX, ECX, EDX.
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "cpuinfo/report.h"
#include "fake_os.h"
#include "fake_processor.h"
#include "json_check.h"
#include "velquorn/cpuinfo.h"

namespace {

struct Input {
  const uint8_t* p;
  size_t left;

  uint64_t take(size_t bytes) {
    uint64_t v = 0;
    for (size_t i = 0; i < bytes && left != 0; ++i, --left) v |= uint64_t{*p++} << (8 * i);
    return v;
  }
  uint32_t u32() { return static_cast<uint32_t>(take(4)); }
  int64_t i64() { return static_cast<int64_t>(take(8)); }
};

// Keeps the size probe (and so the allocation) within what a real core list
// of a very large machine needs.
constexpr uint32_t kMaxProbeLength = 1u << 16;

void seed_os(Input* in) {
  fake_os_reset();
  FakeOs& os = g_fake_os;
  os.processor_counts = {in->u32(), in->u32()};
  const uint32_t flags = static_cast<uint32_t>(in->take(1));
  os.probe_error = in->u32();
  os.probe_length_set = (flags & 1) != 0;
  os.probe_length = in->u32() % kMaxProbeLength;
  os.fill_fails = (flags & 2) != 0;
  os.fill_length_set = (flags & 4) != 0;
  os.fill_length = in->u32();
  os.fail_alloc = (flags & 8) != 0;
  size_t list_bytes = static_cast<size_t>(in->take(2));
  if (list_bytes > in->left) list_bytes = in->left;
  os.core_list.assign(in->p, in->p + list_bytes);
  in->p += list_bytes;
  in->left -= list_bytes;
  os.frequency = in->i64();
  os.counters = {in->i64(), in->i64()};
  os.tscs = {in->take(8), in->take(8)};
  os.reg_open_result = static_cast<int32_t>(in->u32());
  os.reg_query_result = static_cast<int32_t>(in->u32());
  os.reg_value = in->u32();
  os.reg_value_size = in->u32();
}

void seed_processor(Input* in) {
  fake_processor_reset();
  while (in->left >= 24) {
    const uint32_t leaf = in->u32(), subleaf = in->u32();
    const uint32_t eax = in->u32(), ebx = in->u32(), ecx = in->u32(), edx = in->u32();
    fake_cpuid_set(leaf, subleaf, eax, ebx, ecx, edx);
  }
}

[[noreturn]] void fail(const std::string& why) {
  fprintf(stderr, "report: %s\n", why.c_str());
  if (memchr(g_json, '\0', kReportSize) != nullptr) fprintf(stderr, "document: %s\n", g_json);
  abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Input in{data, size};
  seed_os(&in);
  seed_processor(&in);

  const char* json = cpuinfo_get_json();
  if (json != g_json) fail("the result is not g_json");
  if (memchr(g_json, '\0', kReportSize) == nullptr) fail("no NUL within the buffer");
  std::string why;
  if (!check_report_json(g_json, strlen(g_json), &why)) fail(why);
  if (cpuinfo_last_error()[0] != '\0') fail("the last-error text is not empty");
  if (g_fake_os.allocs > 1 || g_fake_os.live_blocks != 0)
    fail(std::to_string(g_fake_os.allocs) + " allocations, " +
         std::to_string(g_fake_os.live_blocks) + " not freed");
  return 0;
}
