// The readable view: golden texts of three recorded processors (CPUID from
// the file, the operating system faked, so the text is the same on any
// machine), the rules for values and widths, and the report reader.
#include "pretty.h"

#include <gtest/gtest.h>
#include <limits.h>
#include <stdio.h>
#include <string.h>

#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "cli.h"
#include "fake_os.h"
#include "fake_processor.h"
#include "velquorn/cpuinfo.h"

namespace {

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// What a program under test wrote to a temporary stream.
std::string contents(FILE* f) {
  std::string text;
  rewind(f);
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) text.append(buffer, n);
  return text;
}

struct Machine {
  const char* processor;  // file in the recorded processors' folder
  const char* golden;     // file in tests/data/pretty, beside <name>.json: its report
  uint32_t logical;
  uint32_t cores;         // core-list records; 0: the list is unavailable
  uint32_t registry_mhz;  // "~MHz"; 0: the key is absent
  uint64_t tsc_ticks;     // over the 50 ms that the counters show; 0: no time passes
};

// The operating system of a golden text.
void fake_machine(const Machine& m) {
  fake_os_reset();
  g_fake_os.processor_counts = {m.logical};
  if (m.cores != 0) {
    for (uint32_t i = 0; i < m.cores; ++i) fake_os_add_record(kOsRelationProcessorCore, 48);
    g_fake_os.probe_error = kOsErrorInsufficientBuffer;
  }
  if (m.registry_mhz != 0) {
    g_fake_os.reg_open_result = 0;
    g_fake_os.reg_value = m.registry_mhz;
  }
  if (m.tsc_ticks != 0) {
    g_fake_os.counters = {1000000000, 1050000000};  // 50 ms at 10^9 counts a second
    g_fake_os.tscs = {5000000000u, 5000000000u + m.tsc_ticks};
  }
}

// Three clearly different processors:
// - Intel Xeon D-1718T (Ice Lake-D, 06_6C) as a Hyper-V guest: leaf 4
//   caches (an L2 of 1280 KiB, an L3 of 10 MiB), the hypervisor bit,
//   AVX-512F; leaf 0x16 answers zeros, so the base clock is "~MHz";
// - AMD Ryzen 9 5900X (Zen 3, 19_21): caches from leaf 0x8000001D, a brand
//   that ends in spaces, no leaf 0x16;
// - Cyrix 6x86 (1996): no extended leaves (brand "Unknown", not 64-bit), no
//   cache leaves, no core list, and a clock that cannot be measured.
const Machine kMachines[] = {
    {"GenuineIntel00606C1_ICX_01v_CPUID.cpuid", "icelake-server-vm.txt", 16, 8, 2600, 130000000},
    {"AuthenticAMD0A20F10_K19_Vermeer2_CPUID.cpuid", "zen3-vermeer.txt", 24, 12, 3700, 185000000},
    {"CyrixInstead0000520_6x86_CPUID.cpuid", "cyrix-6x86.txt", 1, 0, 0, 0},
};

class PrettyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake_processor_reset();
    fake_os_reset();
    dumps_ = recorded_processors_dir(VELQUORN_DUMPS_DIR);
    ASSERT_FALSE(dumps_.empty()) << "no recorded processors: " << VELQUORN_DUMPS_DIR;
    goldens_ = recorded_processors_dir(VELQUORN_PRETTY_DIR);
    ASSERT_FALSE(goldens_.empty()) << "no golden texts: " << VELQUORN_PRETTY_DIR;
  }
  std::string dumps_, goldens_;
};

TEST_F(PrettyTest, RecordedProcessorsMatchTheirGoldenTexts) {
  for (const Machine& m : kMachines) {
    SCOPED_TRACE(m.processor);
    const std::string path = dumps_ + "/" + m.processor;
    const std::string golden = read_file(goldens_ + "/" + m.golden);
    ASSERT_FALSE(golden.empty()) << "no golden text " << m.golden;

    // The view of the report that the library gives for this machine.
    std::string error;
    ASSERT_TRUE(load_replay_file(path, &g_fake_cpu.leaves, &error)) << error;
    fake_machine(m);
    // The report is kept beside the golden text (one line and a newline),
    // where the Python binding's view is held against the same text.
    const std::string json = cpuinfo_get_json();
    const std::string name = std::string(m.golden).substr(0, strlen(m.golden) - 4);
    EXPECT_EQ(json + "\n", read_file(goldens_ + "/" + name + ".json"));
    ReportValues values;
    ASSERT_TRUE(parse_report(json, &values));
    EXPECT_EQ(format_pretty(values, 80), golden);

    // The same bytes through the command line, --replay FILE --pretty.
    fake_processor_reset();
    fake_machine(m);
    FILE* out = tmpfile();
    FILE* err = tmpfile();
    ASSERT_TRUE(out != nullptr && err != nullptr);
    const char* argv[] = {"velquorn-cpuinfo", "--replay", path.c_str(), "--pretty"};
    EXPECT_EQ(run_cli(4, argv, out, err), kExitOk) << contents(err);
    EXPECT_EQ(contents(out), golden);
    fclose(out);
    fclose(err);
  }
}

ReportValues sample() {
  ReportValues v;
  EXPECT_TRUE(parse_report(
      "{\"vendor\":\"GenuineIntel\",\"brand\":\"Test CPU\",\"family\":6,\"model\":158,"
      "\"stepping\":10,\"physical_cores\":6,\"logical_cores\":12,\"l1d_kb\":32,\"l1i_kb\":32,"
      "\"l2_kb\":256,\"l3_kb\":12288,\"base_mhz\":3700,\"max_mhz\":4700,\"current_mhz\":3696,"
      "\"features\":[\"sse\",\"sse2\",\"avx\",\"avx2\"],\"hypervisor\":0,\"x64\":1}",
      &v));
  return v;
}

struct ViewCase {
  const char* what;
  std::function<void(ReportValues*)> change;
  int width;
  std::vector<const char*> lines;  // each appears whole in the view
};

TEST(PrettyView, ShowsEachValueByItsRule) {
  const ViewCase cases[] = {
      {"the sample as it is",
       [](ReportValues*) {},
       80,
       {"vendor:         GenuineIntel\n", "family:         6 (0x6)\n",
        "model:          158 (0x9e)\n", "stepping:       10 (0xa)\n", "L2 cache:       256 KiB\n",
        "L3 cache:       12 MiB\n", "max clock:      4700 MHz\n", "current clock:  3696 MHz\n",
        "features:       sse sse2 avx avx2\n", "hypervisor:     no\n", "64-bit:         yes\n"}},
      {"control bytes, DEL, high bytes and backslashes never reach the terminal",
       [](ReportValues* v) {
         v->vendor = std::string("Evil\0Vendor", 11);
         v->brand = "\x1b]0;owned\x07\x1b[2J\x7f\x9b\xff\\";
       },
       80,
       {"vendor:         Evil\\x00Vendor\n",
        "brand:          \\x1b]0;owned\\x07\\x1b[2J\\x7f\\x9b\\xff\\\\\n"}},
      {"zeros are unknown, a failed measurement is not measured, nothing is none",
       [](ReportValues* v) {
         v->l1d_kb = v->l3_kb = v->base_mhz = v->max_mhz = 0;
         v->current_mhz = -1;
         v->features.clear();
       },
       80,
       {"L1d cache:      unknown\n", "L3 cache:       unknown\n", "base clock:     unknown\n",
        "max clock:      unknown\n", "current clock:  not measured\n", "features:       none\n"}},
      {"the other failed measurement; MiB only for whole MiB",
       [](ReportValues* v) {
         v->current_mhz = INT_MIN;
         v->l2_kb = 1536;
         v->l3_kb = 1024;
       },
       80,
       {"current clock:  not measured\n", "L2 cache:       1536 KiB\n", "L3 cache:       1 MiB\n"}},
      {"a measured rate of 0 is a rate",
       [](ReportValues* v) { v->current_mhz = 0; },
       80,
       {"current clock:  0 MHz\n"}},
      {"features wrapped to the width, aligned under the first",
       [](ReportValues* v) {
         v->features = {"sse", "sse2", "htt", "sse3", "ssse3", "fma", "sse41", "sse42"};
       },
       36,
       {"features:       sse sse2 htt sse3\n", "\n                ssse3 fma sse41\n",
        "\n                sse42\nhypervisor:"}},
      {"a width narrower than a name: one name a line",
       [](ReportValues* v) {
         v->features = {"popcnt", "avx512f"};
       },
       10,
       {"features:       popcnt\n                avx512f\n"}},
  };
  for (const ViewCase& c : cases) {
    SCOPED_TRACE(c.what);
    ReportValues v = sample();
    c.change(&v);
    const std::string view = format_pretty(v, c.width);
    for (const char* line : c.lines) EXPECT_NE(view.find(line), std::string::npos) << line << view;
  }
}

TEST(PrettyView, ReadsOnlyReportDocuments) {
  const std::string good =
      "{\"vendor\":\"A\\\"B\\\\C\\u001b\\u00ff\",\"brand\":\"\",\"family\":-1,\"model\":0,"
      "\"stepping\":0,\"physical_cores\":2147483647,\"logical_cores\":-2147483648,\"l1d_kb\":0,"
      "\"l1i_kb\":0,\"l2_kb\":0,\"l3_kb\":0,\"base_mhz\":0,\"max_mhz\":0,\"current_mhz\":0,"
      "\"features\":[],\"hypervisor\":0,\"x64\":0}";
  ReportValues v;
  ASSERT_TRUE(parse_report(good, &v));
  EXPECT_EQ(v.vendor, "A\"B\\C\x1b\xff");
  EXPECT_EQ(v.family, -1);
  EXPECT_EQ(v.physical_cores, INT_MAX);
  EXPECT_EQ(v.logical_cores, INT_MIN);
  EXPECT_TRUE(v.features.empty());

  const auto with = [&good](const char* from, const char* to) {
    std::string text = good;
    text.replace(text.find(from), strlen(from), to);
    return text;
  };
  const std::string bad[] = {
      good + " ",
      with("\"brand\":\"\",", ""),                                       // a member missing
      with("\"model\":0,\"stepping\":0", "\"stepping\":0,\"model\":0"),  // out of order
      with("\\u00ff", "\\u0100"),                                        // not one byte
      with("\\u00ff", "\\x"),            // not an escape the report uses
      with("C\\u001b", "C\x1b"),         // a raw control byte
      with("2147483647", "2147483648"),  // past int
  };
  for (const std::string& text : bad) {
    SCOPED_TRACE(text);
    EXPECT_FALSE(parse_report(text, &v));
  }
}

}  // namespace
