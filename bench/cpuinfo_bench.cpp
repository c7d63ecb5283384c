// The library's costs on this machine, each beside the floor it is held to: a
// feature test beside the CPUIDs it executes; a report without its clock
// measurement beside the CPUIDs and operating-system queries it makes; the
// Linux core count over fake sysfs trees of up to 4096 CPUs; and the spread of
// the measured clock around the time-stamp counter rate that the machine
// states. The two sides of a comparison run in alternating turns within one
// benchmark and are timed in thread CPU time, so that the load of other work
// on this shared machine falls on both alike. A summary follows the table.
#include <benchmark/benchmark.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/os.h"
#include "platform/os_linux.h"
#include "platform/processor.h"
#include "probe/clock.h"
#include "topology/cores.h"
#include "velquorn/cpuinfo.h"

// The shipped seams under the names that --wrap gives them.
extern "C" CpuidResult __real_cpuid_query(uint32_t leaf, uint32_t subleaf);
extern "C" void __real_os_sleep(uint32_t milliseconds);

namespace {

using Query = std::pair<uint32_t, uint32_t>;  // leaf, subleaf

std::vector<Query>* g_cpuid_log = nullptr;  // set while a call is recorded
bool g_skip_sleep = false;

}  // namespace

extern "C" CpuidResult __wrap_cpuid_query(uint32_t leaf, uint32_t subleaf) {
  if (g_cpuid_log != nullptr) g_cpuid_log->emplace_back(leaf, subleaf);
  return __real_cpuid_query(leaf, subleaf);
}

extern "C" void __wrap_os_sleep(uint32_t milliseconds) {
  if (!g_skip_sleep) __real_os_sleep(milliseconds);
}

namespace {

constexpr uint32_t kExtendedLeaves = 0x80000000u;
constexpr int kClockSamples = 50;

// The CPUIDs that one call makes, in order.
template <typename Call>
std::vector<Query> record_cpuids(Call call) {
  std::vector<Query> log;
  g_cpuid_log = &log;
  g_skip_sleep = true;
  call();
  g_skip_sleep = false;
  g_cpuid_log = nullptr;
  return log;
}

// Thread CPU time and real time, in nanoseconds, summed over calls.
struct Tally {
  double cpu = 0;
  double real = 0;

  template <typename Call>
  void add(Call call) {
    const double cpu0 = now(CLOCK_THREAD_CPUTIME_ID), real0 = now(CLOCK_MONOTONIC);
    call();
    cpu += now(CLOCK_THREAD_CPUTIME_ID) - cpu0;
    real += now(CLOCK_MONOTONIC) - real0;
  }
  static double now(clockid_t clock) {
    timespec t;
    clock_gettime(clock, &t);
    return static_cast<double>(t.tv_sec) * 1e9 + static_cast<double>(t.tv_nsec);
  }
};

// A per-iteration average of a total.
benchmark::Counter per_iteration(double total) {
  return benchmark::Counter(total, benchmark::Counter::kAvgIterations);
}

// CPUIDs through the shipped seam: the instruction and a call each.
void run_cpuids(const std::vector<Query>& queries) {
  for (const Query& q : queries) benchmark::DoNotOptimize(__real_cpuid_query(q.first, q.second));
}

// A feature test beside the CPUIDs that it executes, in turns of kTurn calls,
// the side that goes first alternating. Times are thread CPU time.
void BM_FeatureVsCpuid(benchmark::State& state, const char* name, std::vector<Query> queries) {
  constexpr int kTurn = 16;
  Tally feature, cpuid;
  bool feature_first = true;
  for (auto _ : state) {
    const auto run_feature = [&] {
      feature.add([&] {
        for (int i = 0; i < kTurn; ++i) benchmark::DoNotOptimize(cpuinfo_has_feature(name));
      });
    };
    const auto run_cpuid = [&] {
      cpuid.add([&] {
        for (int i = 0; i < kTurn; ++i) run_cpuids(queries);
      });
    };
    if (feature_first) {
      run_feature();
      run_cpuid();
    } else {
      run_cpuid();
      run_feature();
    }
    feature_first = !feature_first;
  }
  state.counters["has_feature_ns"] = per_iteration(feature.cpu / kTurn);
  state.counters["cpuid_ns"] = per_iteration(cpuid.cpu / kTurn);
  state.counters["ratio"] = feature.cpu / cpuid.cpu;
}

// The floor of a report: the CPUIDs that it makes (recorded from one report,
// executed alone), the registry part of the nominal clocks
// (read_nominal_clocks less its own CPUIDs), the physical and the logical core
// count. A report does the first half before its sleep and the second after.
struct Floor {
  Floor(const std::vector<Query>& report, const std::vector<Query>& clock)
      : report_queries(report), clock_queries(clock) {}

  const std::vector<Query>& report_queries;
  const std::vector<Query>& clock_queries;
  Tally cpuids, nominal, clock_cpuids, physical, logical;

  void first_half() {
    cpuids.add([&] { run_cpuids(report_queries); });
    nominal.add([] { benchmark::DoNotOptimize(read_nominal_clocks()); });
    clock_cpuids.add([&] { run_cpuids(clock_queries); });
  }
  void second_half() {
    physical.add([] { benchmark::DoNotOptimize(count_physical_cores()); });
    logical.add([] { benchmark::DoNotOptimize(cpuinfo_logical_cores()); });
  }
  double registry_cpu() const { return nominal.cpu - clock_cpuids.cpu; }
  double cpu() const { return cpuids.cpu + registry_cpu() + physical.cpu + logical.cpu; }
};

// The report with its 50 ms sleep skipped, less the clock measurement (also
// without its sleep), beside its floor. Times are thread CPU time.
void BM_ReportVsFloor(benchmark::State& state, const std::vector<Query>& report,
                      const std::vector<Query>& clock) {
  Tally json, mhz;
  Floor floor(report, clock);
  g_skip_sleep = true;
  for (auto _ : state) {
    json.add([] { benchmark::DoNotOptimize(cpuinfo_get_json()); });
    mhz.add([] { benchmark::DoNotOptimize(cpuinfo_current_mhz()); });
    floor.first_half();
    floor.second_half();
  }
  g_skip_sleep = false;
  const double rest = json.cpu - mhz.cpu;
  state.counters["report_ns"] = per_iteration(rest);
  state.counters["cpuids"] = static_cast<double>(report.size());
  state.counters["cpuid_ns"] = per_iteration(floor.cpuids.cpu / static_cast<double>(report.size()));
  state.counters["registry_ns"] = per_iteration(floor.registry_cpu());
  state.counters["physical_ns"] = per_iteration(floor.physical.cpu);
  state.counters["logical_ns"] = per_iteration(floor.logical.cpu);
  state.counters["floor_ns"] = per_iteration(floor.cpu());
  state.counters["ratio"] = rest / floor.cpu();
}

// The full report beside the clock measurement alone, both with the sleep, and
// the floor taken in the same two halves, each after a sleep of the same
// length: after a sleep the processor's caches and predictors have served
// other work, so the report's CPU time is compared with a floor as cold.
void BM_ReportVsMeasurement(benchmark::State& state, const std::vector<Query>& report,
                            const std::vector<Query>& clock) {
  constexpr uint32_t kSleepMs = 50;
  Tally json, mhz;
  Floor cold(report, clock);
  for (auto _ : state) {
    json.add([] { benchmark::DoNotOptimize(cpuinfo_get_json()); });
    mhz.add([] { benchmark::DoNotOptimize(cpuinfo_current_mhz()); });
    __real_os_sleep(kSleepMs);
    cold.first_half();
    __real_os_sleep(kSleepMs);
    cold.second_half();
  }
  state.counters["get_json_ms"] = per_iteration(json.real / 1e6);
  state.counters["current_mhz_ms"] = per_iteration(mhz.real / 1e6);
  state.counters["rest_real_us"] = per_iteration((json.real - mhz.real) / 1e3);
  state.counters["rest_cpu_us"] = per_iteration((json.cpu - mhz.cpu) / 1e3);
  state.counters["cold_floor_us"] = per_iteration(cold.cpu() / 1e3);
}

// A sysfs CPU folder of `cpus` online CPUs, two threads per core: CPU k and
// CPU k + cpus/2 share a core, as x86 machines number them.
class FakeCpuTree {
 public:
  explicit FakeCpuTree(int cpus) {
    char pattern[] = "/tmp/cpuinfo-bench-XXXXXX";
    root_ = mkdtemp(pattern) != nullptr ? pattern : "";
    if (root_.empty()) return;
    std::ofstream(root_ + "/online") << "0-" << cpus - 1 << "\n";
    const int half = cpus / 2;
    for (int k = 0; k < cpus; ++k) {
      const std::string topology = root_ + "/cpu" + std::to_string(k) + "/topology";
      std::filesystem::create_directories(topology);
      const int first = k % half;
      std::ofstream(topology + "/core_cpus_list") << first << "," << first + half << "\n";
    }
  }
  ~FakeCpuTree() {
    std::error_code ignored;
    if (!root_.empty()) std::filesystem::remove_all(root_, ignored);
  }
  const std::string& root() const { return root_; }

 private:
  std::string root_;
};

std::map<int, std::unique_ptr<FakeCpuTree>> g_trees;

// What count_physical_cores asks of the Linux layer: the size probe, then the
// list itself; per_cpu is CPU time per CPU of the tree.
void BM_LinuxCoreCount(benchmark::State& state) {
  const int cpus = static_cast<int>(state.range(0));
  auto& tree = g_trees[cpus];
  if (!tree) tree = std::make_unique<FakeCpuTree>(cpus);
  const char* root = tree->root().c_str();
  std::vector<uint8_t> buffer(static_cast<size_t>(cpus) * kOsCoreRecordSize);
  for (auto _ : state) {
    uint32_t length = 0, error = 0;
    os_linux_core_list(root, nullptr, &length, &error);
    if (error != kOsErrorInsufficientBuffer || length > buffer.size() ||
        !os_linux_core_list(root, buffer.data(), &length, &error) ||
        length != static_cast<uint32_t>(cpus / 2) * kOsCoreRecordSize) {
      state.SkipWithError("the fake tree did not give one record per core");
      break;
    }
  }
  state.SetComplexityN(cpus);
  state.counters["per_cpu"] = benchmark::Counter(
      cpus, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// The rate of the time-stamp counter that this machine states, in MHz, and
// where it is stated; 0 when nothing states it.
double stated_tsc_mhz(std::string* source) {
  double khz = 0;
  if (std::ifstream("/sys/devices/system/cpu/cpu0/tsc_freq_khz") >> khz && khz > 0) {
    *source = "sysfs tsc_freq_khz";
    return khz / 1000;
  }
  // CPUID.15h: TSC = crystal (ECX Hz) * EBX / EAX.
  if (__real_cpuid_query(0, 0).eax >= 0x15) {
    const CpuidResult r = __real_cpuid_query(0x15, 0);
    if (r.eax != 0 && r.ebx != 0 && r.ecx != 0) {
      *source = "CPUID 15h";
      return static_cast<double>(r.ecx) * r.ebx / r.eax / 1e6;
    }
  }
  // CPUID.1:ECX bit 31 is a hypervisor; its leaf 40000010h EAX is the TSC
  // rate in kHz where the hypervisor has that leaf.
  if ((__real_cpuid_query(1, 0).ecx >> 31) != 0 &&
      __real_cpuid_query(0x40000000, 0).eax >= 0x40000010) {
    const uint32_t tsc_khz = __real_cpuid_query(0x40000010, 0).eax;
    if (tsc_khz != 0) {
      *source = "hypervisor CPUID 40000010h";
      return tsc_khz / 1000.0;
    }
  }
  // With tsc_known_freq the kernel took the TSC rate from the platform rather
  // than calibrating it; without a cpufreq driver or APERF/MPERF, "cpu MHz"
  // shows that rate.
  std::ifstream cpuinfo("/proc/cpuinfo");
  std::string line, flags;
  double mhz = 0;
  while (std::getline(cpuinfo, line) && (flags.empty() || mhz == 0)) {
    if (line.rfind("flags", 0) == 0 && flags.empty()) flags = line + " ";
    if (line.rfind("cpu MHz", 0) == 0 && mhz == 0)
      mhz = atof(line.substr(line.find(':') + 1).c_str());
  }
  if (flags.find(" tsc_known_freq ") != std::string::npos &&
      flags.find(" aperfmperf ") == std::string::npos && mhz > 0) {
    *source = "/proc/cpuinfo 'cpu MHz' (tsc_known_freq)";
    return mhz;
  }
  *source = "none";
  return 0;
}

void BM_ClockSpread(benchmark::State& state) {
  std::string source;
  const double stated = stated_tsc_mhz(&source);
  std::vector<double> mhz;
  for (auto _ : state) {
    mhz.clear();
    for (int i = 0; i < kClockSamples; ++i) mhz.push_back(cpuinfo_current_mhz());
  }
  std::sort(mhz.begin(), mhz.end());
  const double median = (mhz[kClockSamples / 2 - 1] + mhz[kClockSamples / 2]) / 2;
  state.counters["median_mhz"] = median;
  state.counters["min_mhz"] = mhz.front();
  state.counters["max_mhz"] = mhz.back();
  if (stated > 0) {
    const double worst = std::max(std::fabs(mhz.front() - stated), std::fabs(mhz.back() - stated));
    state.counters["stated_mhz"] = stated;
    state.counters["median_dev_pct"] = 100 * (median - stated) / stated;
    state.counters["worst_dev_pct"] = 100 * worst / stated;
  }
  state.SetLabel("stated rate: " + source);
}

// The console table; each benchmark's times per iteration and counters are
// kept for the summary (the median where a benchmark repeats).
class SummaryReporter : public benchmark::ConsoleReporter {
 public:
  struct Result {
    double real_ns;
    double cpu_ns;
    benchmark::UserCounters counters;
  };

  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.error_occurred || run.iterations == 0 || run.report_big_o || run.report_rms) continue;
      if (run.run_type == Run::RT_Aggregate && run.aggregate_name != "median") continue;
      std::string name = run.run_name.function_name;
      if (!run.run_name.args.empty()) name += "/" + run.run_name.args;
      const double n = static_cast<double>(run.iterations);
      results_[name] = {run.real_accumulated_time / n * 1e9, run.cpu_accumulated_time / n * 1e9,
                        run.counters};
    }
  }

  const Result* find(const std::string& name) const {
    auto it = results_.find(name);
    return it == results_.end() ? nullptr : &it->second;
  }

 private:
  std::map<std::string, Result> results_;
};

double value(const SummaryReporter::Result& r, const char* counter) {
  auto it = r.counters.find(counter);
  return it == r.counters.end() ? 0 : it->second.value;
}

void print_summary(const SummaryReporter& reporter) {
  printf("\nSummary (thread CPU time unless marked real)\n");
  const char* features[][2] = {
      {"sse2", "leaf 1"}, {"avx2", "leaf 7"}, {"x64", "80000000h+80000001h"}};
  for (const auto& f : features) {
    if (const auto* r = reporter.find(std::string("feature_vs_cpuid/") + f[0]))
      printf(
          "  has_feature(\"%s\") %8.1f ns   CPUID %-20s %8.1f ns   ratio %.3f (target <= 1.05)\n",
          f[0], value(*r, "has_feature_ns"), f[1], value(*r, "cpuid_ns"), value(*r, "ratio"));
  }

  const auto* floor = reporter.find("report_vs_floor");
  if (floor != nullptr) {
    const double f = value(*floor, "floor_ns");
    printf(
        "  floor of a report: %.0f CPUIDs x %.1f ns + registry part of the nominal clocks %.1f ns\n"
        "    + physical cores %.1f ns + logical cores %.1f ns = %.1f ns\n",
        value(*floor, "cpuids"), value(*floor, "cpuid_ns"), value(*floor, "registry_ns"),
        value(*floor, "physical_ns"), value(*floor, "logical_ns"), f);
    printf(
        "  report - measurement, sleep skipped:  %10.1f ns   ratio to floor %.3f (target <= "
        "1.20)\n",
        value(*floor, "report_ns"), value(*floor, "ratio"));
    if (const auto* m = reporter.find("report_vs_measurement")) {
      printf("  report %.3f ms - measurement %.3f ms (real), with the sleep:\n",
             value(*m, "get_json_ms"), value(*m, "current_mhz_ms"));
      const double real = value(*m, "rest_real_us") * 1e3, cpu = value(*m, "rest_cpu_us") * 1e3;
      const double cold = value(*m, "cold_floor_us") * 1e3;
      printf("    real %10.1f ns   ratio to floor %.3f;  CPU %10.1f ns   ratio to floor %.3f\n",
             real, real / f, cpu, cpu / f);
      printf("    floor taken after the same sleeps %10.1f ns;  CPU ratio to it %.3f\n", cold,
             cpu / cold);
    }
  }

  for (int cpus : {2, 64, 1024, 4096}) {
    if (const auto* r = reporter.find("linux_core_count/" + std::to_string(cpus)))
      printf(
          "  Linux core count, %4d CPUs: %11.1f ns, per CPU %7.1f ns CPU, %7.1f ns real "
          "(target < 5000)\n",
          cpus, r->cpu_ns, value(*r, "per_cpu") * 1e9, r->real_ns / cpus);
  }

  if (const auto* r = reporter.find("clock_spread")) {
    printf("  clock, %d measurements: median %.0f MHz, min %.0f, max %.0f", kClockSamples,
           value(*r, "median_mhz"), value(*r, "min_mhz"), value(*r, "max_mhz"));
    std::string source;
    const double stated = stated_tsc_mhz(&source);
    if (stated > 0)
      printf("; stated %.3f MHz (%s): median %+.4f%%, worst %.4f%%", stated, source.c_str(),
             value(*r, "median_dev_pct"), value(*r, "worst_dev_pct"));
    printf("\n");
  }
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;

  const std::vector<Query> report = record_cpuids([] { cpuinfo_get_json(); });
  const std::vector<Query> clock = record_cpuids([] { read_nominal_clocks(); });
  const std::vector<Query> leaf1 = {{1, 0}}, leaf7 = {{7, 0}};
  const std::vector<Query> x64 = {{kExtendedLeaves, 0}, {kExtendedLeaves + 1, 0}};

  benchmark::RegisterBenchmark("feature_vs_cpuid/sse2", BM_FeatureVsCpuid, "sse2", leaf1);
  benchmark::RegisterBenchmark("feature_vs_cpuid/avx2", BM_FeatureVsCpuid, "avx2", leaf7);
  benchmark::RegisterBenchmark("feature_vs_cpuid/x64", BM_FeatureVsCpuid, "x64", x64);
  benchmark::RegisterBenchmark("report_vs_floor", BM_ReportVsFloor, report, clock)
      ->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark("report_vs_measurement", BM_ReportVsMeasurement, report, clock)
      ->MinTime(3.0)
      ->UseRealTime()
      ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("linux_core_count", BM_LinuxCoreCount)
      ->Arg(2)
      ->Arg(64)
      ->Arg(1024)
      ->Arg(4096)
      ->Unit(benchmark::kMicrosecond)
      ->Complexity(benchmark::oN);
  benchmark::RegisterBenchmark("clock_spread", BM_ClockSpread)
      ->Iterations(1)
      ->UseRealTime()
      ->Unit(benchmark::kMillisecond);

  SummaryReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  print_summary(reporter);
  printf("  this machine's report: %s\n", cpuinfo_get_json());
  g_trees.clear();
  benchmark::Shutdown();
  return 0;
}
