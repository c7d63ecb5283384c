// The command line in-process: what it accepts, and the exit statuses and
// output of --has, --features, --record and --replay against the fakes.
#include "cli.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <stdio.h>
#ifndef _WIN32
#include <sys/resource.h>
#endif

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <sstream>
#include <string>
#include <vector>

#include "fake_os.h"
#include "fake_processor.h"

namespace {

struct ParseCase {
  std::vector<const char*> args;  // after the program name
  bool ok;
  Command command;
};

TEST(CliOptions, AcceptsTheUsageAndNothingElse) {
  const ParseCase cases[] = {
      {{}, true, Command::kReport},
      {{"--pretty"}, true, Command::kPretty},
      {{"--replay", "f.cpuid", "--pretty"}, true, Command::kPretty},
      {{"--cpu", "3", "--replay", "f.cpuid"}, true, Command::kReport},
      {{"--has", "sse", "--has", "avx2", "--replay", "f"}, true, Command::kHas},
      {{"--features", "--cpu", "0"}, true, Command::kFeatures},
      {{"--record"}, true, Command::kRecord},
      {{"--record", "out.cpuid", "--cpu", "1"}, true, Command::kRecord},
      {{"--record", "--cpu", "1"}, true, Command::kRecord},
      {{"--all-cpus", "--replay", "f", "--pretty"}, true, Command::kPretty},
      {{"--all-cpus", "--record", "out.cpuid"}, true, Command::kRecord},
      {{"--version"}, true, Command::kVersion},
      {{"--help"}, true, Command::kHelp},
      {{"--bogus"}, false, Command::kReport},
      {{"stray"}, false, Command::kReport},
      {{"--has"}, false, Command::kReport},
      {{"--cpu"}, false, Command::kReport},
      {{"--cpu", "-1"}, false, Command::kReport},
      {{"--cpu", "1234567890"}, false, Command::kReport},
      {{"--replay", "a", "--replay", "b"}, false, Command::kReport},
      {{"--pretty", "--features"}, false, Command::kReport},
      {{"--has", "sse", "--pretty"}, false, Command::kReport},
      {{"--record", "--replay", "f"}, false, Command::kReport},
      {{"--record", "a", "b"}, false, Command::kReport},
      {{"--version", "--cpu", "0"}, false, Command::kReport},
      {{"--all-cpus", "--cpu", "0"}, false, Command::kReport},
      {{"--help", "--all-cpus"}, false, Command::kReport},
  };
  for (const ParseCase& c : cases) {
    std::vector<const char*> argv = {"velquorn-cpuinfo"};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    std::string trace;
    for (const char* a : c.args) trace += std::string(a) + " ";
    SCOPED_TRACE(trace);
    Options o;
    std::string error;
    ASSERT_EQ(parse_options(static_cast<int>(argv.size()), argv.data(), &o, &error), c.ok) << error;
    if (c.ok) {
      EXPECT_EQ(o.command, c.command);
    } else {
      EXPECT_FALSE(error.empty());
    }
  }
  // What the options carry.
  const char* argv[] = {"velquorn-cpuinfo", "--has",  "sse", "--cpu", "7", "--has", "x64",
                        "--replay",         "r.cpuid"};
  Options o;
  std::string error;
  ASSERT_TRUE(parse_options(9, argv, &o, &error)) << error;
  EXPECT_EQ(o.has, (std::vector<std::string>{"sse", "x64"}));
  EXPECT_TRUE(o.pin);
  EXPECT_EQ(o.cpu, 7u);
  EXPECT_TRUE(o.replay);
  EXPECT_EQ(o.replay_file, "r.cpuid");
  const char* record[] = {"velquorn-cpuinfo", "--record", "-"};
  ASSERT_TRUE(parse_options(3, record, &o, &error));
  EXPECT_EQ(o.record_file, "") << "'-' is standard output";
}

// One run of the tool in-process.
struct Outcome {
  int status;
  std::string out, err;
};

std::string drain(FILE* f) {
  std::string text;
  rewind(f);
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) text.append(buffer, n);
  fclose(f);
  return text;
}

Outcome run(std::initializer_list<std::string> args) {
  std::vector<std::string> words = {"velquorn-cpuinfo"};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<const char*> argv;
  for (const std::string& w : words) argv.push_back(w.c_str());
  FILE* out = tmpfile();
  FILE* err = tmpfile();
  if (out == nullptr || err == nullptr) return {-1, "", "no temporary file"};
  Outcome r;
  r.status = run_cli(static_cast<int>(argv.size()), argv.data(), out, err);
  r.out = drain(out);
  r.err = drain(err);
  return r;
}

constexpr const char* kAcceptedNames =
    "sse sse2 htt sse3 ssse3 fma sse41 sse42 popcnt aes avx f16c rdrand hypervisor bmi1 avx2 "
    "bmi2 rdseed sha avx512f x64";

class CliRun : public ::testing::Test {
 protected:
  void SetUp() override {
    fake_processor_reset();
    fake_os_reset();
    // SSE2 and a hypervisor (leaf 1), AVX2 (leaf 7), long mode (0x80000001
    // EDX bit 29); AVX and AVX-512F absent.
    fake_cpuid_set_vendor(7, "GenuineIntel");
    fake_cpuid_set(1, 0, 0x906ea, 0, 1u << 31, 1u << 26);
    fake_cpuid_set(7, 0, 0, 1u << 5, 0, 0);
    fake_cpuid_set(0x80000000u, 0, 0x80000001u, 0, 0, 0);
    fake_cpuid_set(0x80000001u, 0, 0, 0, 0, 1u << 29);
  }
};

struct HasCase {
  std::initializer_list<std::string> args;
  int status;
  const char* err;  // stderr contains it ("" : stderr is empty)
};

TEST_F(CliRun, HasAnswersWithItsExitStatusAlone) {
  const std::string unknown = std::string("the accepted names are: ") + kAcceptedNames + "\n";
  const HasCase cases[] = {
      {{"--has", "sse2"}, kExitOk, ""},
      {{"--has", "sse2", "--has", "avx2", "--has", "x64", "--has", "hypervisor"}, kExitOk, ""},
      {{"--has", "avx"}, kExitFalse, ""},
      {{"--has", "avx2", "--has", "avx512f"}, kExitFalse, ""},
      {{"--has", "nope"}, kExitBad, "unknown feature name 'nope'"},
      {{"--has", "avx", "--has", "SSE2"}, kExitBad, "unknown feature name 'SSE2'"},
      {{"--has", ""}, kExitBad, unknown.c_str()},
      {{"--bogus"}, kExitBad, "unknown argument '--bogus'\nTry 'velquorn-cpuinfo --help'"},
  };
  for (const HasCase& c : cases) {
    std::string trace;
    for (const std::string& a : c.args) trace += a + " ";
    SCOPED_TRACE(trace);
    const Outcome r = run(c.args);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.out, "");
    if (*c.err == '\0') {
      EXPECT_EQ(r.err, "");
    } else {
      EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
    }
  }
}

TEST_F(CliRun, FeaturesListsEveryAcceptedName) {
  const Outcome r = run({"--features"});
  EXPECT_EQ(r.status, kExitOk);
  EXPECT_EQ(r.out,
            "sse 0\nsse2 1\nhtt 0\nsse3 0\nssse3 0\nfma 0\nsse41 0\nsse42 0\npopcnt 0\naes 0\n"
            "avx 0\nf16c 0\nrdrand 0\nhypervisor 1\nbmi1 0\navx2 1\nbmi2 0\nrdseed 0\nsha 0\n"
            "avx512f 0\nx64 1\n");
  EXPECT_EQ(r.err, "");
}

std::string temp_path(const char* name) { return ::testing::TempDir() + name; }

TEST_F(CliRun, RecordWritesAFileThatReplaysOrFailsWithStatus1) {
  const std::string good = temp_path("velquorn-cli-record.cpuid");
  std::remove(good.c_str());
  Outcome r = run({"--record", good});
  EXPECT_EQ(r.status, kExitOk) << r.err;
  EXPECT_EQ(r.out, "");
  ReplayTable table;
  std::string error;
  ASSERT_TRUE(load_replay_file(good, &table, &error)) << error;
  EXPECT_EQ(table.size(), 11u);  // leaves 0-7, 0x40000000 (a hypervisor), 0x80000000-1
  EXPECT_EQ((table[{1, 0}].ecx), 1u << 31);

  // Replayed, the recording answers as the processor did.
  fake_processor_reset();
  r = run({"--replay", good, "--features"});
  EXPECT_EQ(r.status, kExitOk) << r.err;
  EXPECT_NE(r.out.find("sse2 1\n"), std::string::npos);
  EXPECT_NE(r.out.find("avx2 1\n"), std::string::npos);
  EXPECT_NE(r.out.find("x64 1\n"), std::string::npos);
  std::remove(good.c_str());

  // A folder, a file in a folder that does not exist, and an existing file
  // that a 256-byte size limit cuts part-way (SIGXFSZ ignored: write() fails
  // with EFBIG), which keeps its bytes and gets no file left beside it.
  const std::string old = temp_path("velquorn-cli-old.cpuid"), old_text(200, '#');
  std::ofstream(old, std::ios::binary) << old_text;
  for (const std::string& bad : {::testing::TempDir(), temp_path("no-such-folder/x.cpuid"), old}) {
    SCOPED_TRACE(bad);
#ifdef _WIN32
    if (bad == old) continue;  // no size limit to set
#else
    rlimit saved, cut;
    getrlimit(RLIMIT_FSIZE, &saved);
    cut = {bad == old ? 256 : saved.rlim_cur, saved.rlim_max};
    signal(SIGXFSZ, SIG_IGN);
    setrlimit(RLIMIT_FSIZE, &cut);
#endif
    r = run({"--record", bad});
#ifndef _WIN32
    setrlimit(RLIMIT_FSIZE, &saved);
#endif
    EXPECT_EQ(r.status, kExitFalse);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err.rfind("velquorn-cpuinfo: cannot write " + bad, 0), 0u) << r.err;
  }
  EXPECT_EQ(drain(fopen(old.c_str(), "rb")), old_text);
  for (const auto& entry : std::filesystem::directory_iterator(::testing::TempDir()))
    EXPECT_NE(entry.path().filename().string().rfind("velquorn-cli-old.cpuid.", 0), 0u);
  std::remove(old.c_str());
}

TEST_F(CliRun, BadReplayFilesExitWith2NamingFileAndLine) {
  const std::string bad = temp_path("velquorn-cli-bad.cpuid");
  {
    std::ofstream f(bad, std::ios::binary);
    f << "0 0 1 2 3 4\n1 0 5 6 7\n";
  }
  const std::string missing = temp_path("velquorn-cli-missing.cpuid");
  std::remove(missing.c_str());
  const struct {
    std::initializer_list<std::string> args;
    std::string err;  // the first line of stderr begins with it
  } cases[] = {
      {{"--replay", bad}, "velquorn-cpuinfo: " + bad + ":2: "},
      {{"--replay", missing, "--pretty"}, "velquorn-cpuinfo: " + missing + ": "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.err);
    const Outcome r = run(c.args);
    EXPECT_EQ(r.status, kExitBad);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err.rfind(c.err, 0), 0u) << r.err;
  }
  std::remove(bad.c_str());
}

}  // namespace
