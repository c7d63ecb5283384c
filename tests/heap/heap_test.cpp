// The heap calls of a report on this machine, counted by replacing the C
// library's allocator entry points in this program: a report takes one block,
// the core-list scratch buffer of one 48-byte record per online CPU, and frees
// it before it returns.
#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stddef.h>
#include <unistd.h>

#include "velquorn/cpuinfo.h"

extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* block, size_t size);
void* __libc_memalign(size_t alignment, size_t size);
void __libc_free(void* block);
}

namespace {

constexpr int kMaxCalls = 8;

// What happened on the heap while `on` was set; no allocation of its own.
struct HeapLog {
  bool on;
  int allocs;
  int frees;
  size_t sizes[kMaxCalls];
  void* blocks[kMaxCalls];
  void* freed[kMaxCalls];
};

HeapLog g_log;

void* note_alloc(void* block, size_t size) {
  if (g_log.on && block != nullptr) {
    if (g_log.allocs < kMaxCalls) {
      g_log.sizes[g_log.allocs] = size;
      g_log.blocks[g_log.allocs] = block;
    }
    ++g_log.allocs;
  }
  return block;
}

}  // namespace

extern "C" {

void* malloc(size_t size) { return note_alloc(__libc_malloc(size), size); }
void* calloc(size_t count, size_t size) {
  return note_alloc(__libc_calloc(count, size), count * size);
}
void* realloc(void* block, size_t size) { return note_alloc(__libc_realloc(block, size), size); }
void* aligned_alloc(size_t alignment, size_t size) {
  return note_alloc(__libc_memalign(alignment, size), size);
}
int posix_memalign(void** out, size_t alignment, size_t size) {
  *out = note_alloc(__libc_memalign(alignment, size), size);
  return *out != nullptr ? 0 : ENOMEM;
}
void free(void* block) {
  if (g_log.on && block != nullptr) {
    if (g_log.frees < kMaxCalls) g_log.freed[g_log.frees] = block;
    ++g_log.frees;
  }
  __libc_free(block);
}

}  // extern "C"

namespace {

TEST(ReportHeap, TakesOnlyTheCoreListBuffer) {
  const int fd = open("/sys/devices/system/cpu/online", O_RDONLY);
  if (fd < 0) GTEST_SKIP() << "no /sys/devices/system/cpu/online: the report takes no core list";
  close(fd);
  const long online = sysconf(_SC_NPROCESSORS_ONLN);

  // The first report of the process too: nothing is set up on first use.
  for (int call = 1; call <= 2; ++call) {
    g_log = HeapLog{};
    g_log.on = true;
    const char* json = cpuinfo_get_json();
    g_log.on = false;
    SCOPED_TRACE(call);
    ASSERT_NE(json, nullptr);
    ASSERT_EQ(g_log.allocs, 1);
    EXPECT_EQ(g_log.sizes[0], static_cast<size_t>(online) * 48);
    ASSERT_EQ(g_log.frees, 1);
    EXPECT_EQ(g_log.freed[0], g_log.blocks[0]);
  }
}

// The other exports take nothing from the heap.
TEST(ReportHeap, OtherExportsTakeNothing) {
  g_log = HeapLog{};
  g_log.on = true;
  const int has = cpuinfo_has_feature("avx2");
  const int logical = cpuinfo_logical_cores();
  const int mhz = cpuinfo_current_mhz();
  const char* version = cpuinfo_version();
  g_log.on = false;
  EXPECT_NE(has, -1);
  EXPECT_GT(logical, 0);
  EXPECT_NE(mhz, 0);
  EXPECT_NE(version, nullptr);
  EXPECT_EQ(g_log.allocs, 0);
  EXPECT_EQ(g_log.frees, 0);
}

}  // namespace
