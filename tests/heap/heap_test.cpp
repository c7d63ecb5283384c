// The heap calls of a report on this machine, counted by replacing the C
// library's allocator entry points in this program: a report takes one block,
// the core-list scratch buffer of one 48-byte record per online CPU, and frees
// it before it returns.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "counting_allocator.h"
#include "velquorn/cpuinfo.h"

namespace {

TEST(ReportHeap, TakesOnlyTheCoreListBuffer) {
  const int fd = open("/sys/devices/system/cpu/online", O_RDONLY);
  if (fd < 0) GTEST_SKIP() << "no /sys/devices/system/cpu/online: the report takes no core list";
  close(fd);
  const long online = sysconf(_SC_NPROCESSORS_ONLN);

  // The first report of the process too: nothing is set up on first use.
  for (int call = 1; call <= 2; ++call) {
    heap_watch_start();
    const char* json = cpuinfo_get_json();
    heap_watch_stop();
    SCOPED_TRACE(call);
    ASSERT_NE(json, nullptr);
    ASSERT_EQ(g_heap_log.allocs, 1);
    EXPECT_EQ(g_heap_log.sizes[0], static_cast<size_t>(online) * 48);
    ASSERT_EQ(g_heap_log.frees, 1);
    EXPECT_EQ(g_heap_log.freed[0], g_heap_log.blocks[0]);
  }
}

// The other exports take nothing from the heap.
TEST(ReportHeap, OtherExportsTakeNothing) {
  heap_watch_start();
  const int has = cpuinfo_has_feature("avx2");
  const int logical = cpuinfo_logical_cores();
  const int mhz = cpuinfo_current_mhz();
  const char* version = cpuinfo_version();
  heap_watch_stop();
  EXPECT_NE(has, -1);
  EXPECT_GT(logical, 0);
  EXPECT_NE(mhz, 0);
  EXPECT_NE(version, nullptr);
  EXPECT_EQ(g_heap_log.allocs, 0);
  EXPECT_EQ(g_heap_log.frees, 0);
}

}  // namespace
