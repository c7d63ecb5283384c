// The heap calls of a report when a host loads the module with dlopen and
// takes reports on the loading thread and on threads started afterwards:
// each report takes exactly the core-list scratch buffer and frees it. Any
// per-thread state of the module that glibc would set up lazily (dynamic TLS
// of a dlopen'ed module is allocated on a thread's first use) shows up here
// as an extra allocation.
#include <dlfcn.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <unistd.h>

#include "counting_allocator.h"

namespace {

using TextFn = const char* (*)();

struct Report {
  TextFn get_json;
  const char* json;
  HeapLog log;
};

void* take_report(void* arg) {
  Report* report = static_cast<Report*>(arg);
  heap_watch_start();
  report->json = report->get_json();
  heap_watch_stop();
  report->log = g_heap_log;
  return nullptr;
}

TEST(DlopenReportHeap, EveryThreadsReportTakesOnlyTheCoreListBuffer) {
  const int fd = open("/sys/devices/system/cpu/online", O_RDONLY);
  if (fd < 0) GTEST_SKIP() << "no /sys/devices/system/cpu/online: the report takes no core list";
  close(fd);
  const size_t scratch = static_cast<size_t>(sysconf(_SC_NPROCESSORS_ONLN)) * 48;

  void* module = dlopen(VELQUORN_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(module, nullptr) << dlerror();
  const TextFn get_json = reinterpret_cast<TextFn>(dlsym(module, "cpuinfo_get_json"));
  ASSERT_NE(get_json, nullptr);

  const struct {
    const char* name;
    bool new_thread;
  } rows[] = {
      {"first report after loading, on the loading thread", false},
      {"first report of a thread started after loading", true},
      {"first report of a second such thread", true},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    Report report = {get_json, nullptr, {}};
    if (row.new_thread) {
      pthread_t thread;
      ASSERT_EQ(pthread_create(&thread, nullptr, take_report, &report), 0);
      ASSERT_EQ(pthread_join(thread, nullptr), 0);
    } else {
      take_report(&report);
    }
    EXPECT_NE(report.json, nullptr);
    EXPECT_EQ(report.log.allocs, 1);
    EXPECT_EQ(report.log.sizes[0], scratch);
    EXPECT_EQ(report.log.frees, 1);
    EXPECT_EQ(report.log.freed[0], report.log.blocks[0]);
  }
  EXPECT_EQ(dlclose(module), 0);
}

}  // namespace
