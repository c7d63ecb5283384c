// cpuinfo-tool-bench: what velquorn-cpuinfo costs as a program. Each command
// runs as its own process (spawned, output to /dev/null, waited for), timed
// in real time beside `--version`, which starts and ends the same program and
// does nothing else. --has, --features and --record take no clock
// measurement and should finish in a few milliseconds; the report, which
// measures the clock for 50 ms, is timed for contrast. --all-cpus runs on
// this machine's processors and, given --all-cpus-record=FILE, on every
// processor of a recorded machine (one clock measurement per kind of core,
// not per processor). The recorder is also timed in-process beside the CPUIDs
// it executes.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <stdio.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <map>
#include <string>
#include <vector>

#include "platform/processor.h"
#include "record.h"

extern char** environ;

namespace {

// One run of the tool; false when it could not be started or did not exit
// with `status`.
bool run_tool(const std::vector<std::string>& args, int status) {
  std::vector<char*> argv;
  std::string program = VELQUORN_TOOL_PATH;
  argv.push_back(&program[0]);
  std::vector<std::string> words = args;
  for (std::string& w : words) argv.push_back(&w[0]);
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid;
  const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  int wstatus = 0;
  return spawned == 0 && waitpid(pid, &wstatus, 0) == pid && WIFEXITED(wstatus) &&
         WEXITSTATUS(wstatus) == status;
}

void BM_Tool(benchmark::State& state, std::vector<std::string> args, int status) {
  for (auto _ : state) {
    if (!run_tool(args, status)) {
      state.SkipWithError("the tool did not run or gave another exit status");
      break;
    }
  }
}

// The recorder in-process, beside the same CPUIDs executed alone.
void BM_RecordVsCpuids(benchmark::State& state) {
  const Recording once = record_cpuid();
  double record_ns = 0, cpuid_ns = 0;
  const auto now = [] {
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e9 + static_cast<double>(t.tv_nsec);
  };
  for (auto _ : state) {
    double t0 = now();
    benchmark::DoNotOptimize(record_cpuid());
    double t1 = now();
    for (const RecordedAnswer& a : once.answers)
      benchmark::DoNotOptimize(cpuid_query(a.leaf, a.subleaf));
    double t2 = now();
    record_ns += t1 - t0;
    cpuid_ns += t2 - t1;
  }
  state.counters["cpuids"] = static_cast<double>(once.answers.size());
  state.counters["record_us"] =
      benchmark::Counter(record_ns / 1e3, benchmark::Counter::kAvgIterations);
  state.counters["cpuids_us"] =
      benchmark::Counter(cpuid_ns / 1e3, benchmark::Counter::kAvgIterations);
  state.counters["ratio"] = record_ns / cpuid_ns;
}

}  // namespace

int main(int argc, char** argv) {
  // --all-cpus-record=FILE: a record of every processor of a machine.
  constexpr char kRecordFlag[] = "--all-cpus-record=";
  std::string record;
  int kept = 1;
  for (int i = 1; i < argc; ++i) {
    if (strncmp(argv[i], kRecordFlag, sizeof kRecordFlag - 1) == 0) {
      record = argv[i] + sizeof kRecordFlag - 1;
    } else {
      argv[kept++] = argv[i];
    }
  }
  argc = kept;
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  const struct {
    const char* name;
    std::vector<std::string> args;
  } commands[] = {
      {"tool/--version", {"--version"}},
      {"tool/--has sse2", {"--has", "sse2"}},
      {"tool/--features", {"--features"}},
      {"tool/--record", {"--record"}},
      {"tool/report (measures the clock)", {}},
      {"tool/--all-cpus (this machine)", {"--all-cpus"}},
      {"tool/--all-cpus --pretty (this machine)", {"--all-cpus", "--pretty"}},
      {"tool/--all-cpus --record (this machine)", {"--all-cpus", "--record"}},
      {"tool/--replay RECORD --all-cpus", {"--replay", record, "--all-cpus"}},
      {"tool/--replay RECORD --all-cpus --has sse2",
       {"--replay", record, "--all-cpus", "--has", "sse2"}},
  };
  for (const auto& c : commands) {
    if (c.args.size() > 1 && c.args[0] == "--replay" && record.empty()) continue;
    benchmark::RegisterBenchmark(c.name, BM_Tool, c.args, 0)
        ->UseRealTime()
        ->Unit(benchmark::kMillisecond);
  }
  benchmark::RegisterBenchmark("record_vs_cpuids", BM_RecordVsCpuids)
      ->Unit(benchmark::kMicrosecond);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
