// The five exports that share no writable state, called from eight threads at
// once while another thread takes reports under the host's own lock.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "json_check.h"
#include "probe/cpuid.h"
#include "velquorn/cpuinfo.h"

namespace {

constexpr int kThreads = 8;
constexpr int kRounds = 2000;
constexpr int kClockCallsPerThread = 2;

TEST(Threads, FiveExportsOnEightThreadsWhileReportsAreTaken) {
  // Answers taken before any thread starts; every later answer must match.
  const char* const version = cpuinfo_version();
  const char* const last_error = cpuinfo_last_error();
  const int logical = cpuinfo_logical_cores();
  std::vector<std::pair<const char*, int>> features = {{"x64", 0}, {"x86", -1}, {nullptr, -1}};
  for (const FeatureEntry& f : FEATS) features.emplace_back(f.name, 0);
  for (auto& f : features) f.second = cpuinfo_has_feature(f.first);

  std::atomic<int> failures{0};
  std::atomic<bool> workers_done{false};
  std::mutex report_lock;
  int reports = 0;
  std::string bad_report;

  std::thread reporter([&] {
    while (!workers_done.load()) {
      std::string copy;
      {
        std::lock_guard<std::mutex> hold(report_lock);
        copy = cpuinfo_get_json();
        if (cpuinfo_last_error()[0] != '\0') failures.fetch_add(1);
      }
      std::string why;
      if (!check_report_json(copy, &why)) bad_report = copy + " (" + why + ")";
      ++reports;
    }
  });

  std::vector<std::thread> workers;
  for (int t = 0; t < kThreads; ++t) {
    workers.emplace_back([&] {
      int bad = 0;
      for (int i = 0; i < kRounds; ++i) {
        bad += cpuinfo_version() != version;
        bad += cpuinfo_last_error() != last_error;
        bad += cpuinfo_logical_cores() != logical;
        for (const auto& f : features) bad += cpuinfo_has_feature(f.first) != f.second;
        if (i % (kRounds / kClockCallsPerThread) == 0) bad += cpuinfo_current_mhz() <= 0;
      }
      failures.fetch_add(bad);
    });
  }
  for (std::thread& w : workers) w.join();
  workers_done.store(true);
  reporter.join();

  EXPECT_EQ(failures.load(), 0);
  EXPECT_GE(reports, 1);
  EXPECT_EQ(bad_report, "");
  EXPECT_STREQ(version, "1.0.0");
  EXPECT_STREQ(last_error, "");
}

}  // namespace
