// cpuinfo_get_json and build_feature_list against the fake processor and the
// fake operating system.
#include "cpuinfo/report.h"

#include <gtest/gtest.h>
#include <stdint.h>
#include <string.h>

#include <filesystem>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "fake_os.h"
#include "fake_processor.h"
#include "json_check.h"
#include "velquorn/cpuinfo.h"

namespace {

struct Leaf {
  uint32_t leaf, subleaf, eax, ebx, ecx, edx;
};

void set_leaves(const std::vector<Leaf>& leaves) {
  for (const Leaf& l : leaves) fake_cpuid_set(l.leaf, l.subleaf, l.eax, l.ebx, l.ecx, l.edx);
}

// Leaf 0 with the 12 bytes of `vendor` as they stand, NULs included.
void set_vendor_bytes(uint32_t max_basic, const std::string& vendor) {
  uint32_t regs[3] = {0, 0, 0};  // EBX, EDX, ECX
  for (size_t i = 0; i < 12 && i < vendor.size(); ++i)
    regs[i / 4] |= static_cast<uint32_t>(static_cast<unsigned char>(vendor[i])) << (8 * (i % 4));
  fake_cpuid_set(0, 0, max_basic, regs[0], regs[2], regs[1]);
}

// The high-resolution counter advances `ticks` at 10^9 per second while the
// time-stamp counter advances `cycles`.
void set_measurement(int64_t ticks, uint64_t cycles) {
  g_fake_os.frequency = 1000000000;
  g_fake_os.counters = {1000, 1000 + ticks};
  g_fake_os.tscs = {5000000, 5000000 + cycles};
}

// An operating system with a core list of `cores` records (none: no list).
void set_cores(uint32_t logical, int cores) {
  g_fake_os.processor_counts = {logical};
  for (int i = 0; i < cores; ++i) fake_os_add_record(kOsRelationProcessorCore, 48);
  if (cores > 0) g_fake_os.probe_error = kOsErrorInsufficientBuffer;
}

void set_registry_mhz(uint32_t mhz) {
  g_fake_os.reg_open_result = 0;
  g_fake_os.reg_value = mhz;
}

std::string report() {
  const char* json = cpuinfo_get_json();
  std::string why;
  EXPECT_TRUE(check_report_json(json, strlen(json), &why)) << why << "\n" << json;
  return json;
}

// The text of the "features" array, brackets left out.
std::string features_of(const std::string& json) {
  const std::string open = "\"features\":[", close = "],\"hypervisor\":";
  const size_t begin = json.find(open), end = json.rfind(close);
  if (begin == std::string::npos || end == std::string::npos) return "(no features member)";
  return json.substr(begin + open.size(), end - begin - open.size());
}

constexpr char kAllFeatures[] =
    "\"sse\",\"sse2\",\"htt\",\"sse3\",\"ssse3\",\"fma\",\"sse41\",\"sse42\",\"popcnt\","
    "\"aes\",\"avx\",\"f16c\",\"rdrand\",\"bmi1\",\"avx2\",\"bmi2\",\"rdseed\",\"sha\","
    "\"avx512f\"";

class ReportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake_processor_reset();
    fake_os_reset();
  }
};

// Processors with the operating system's answers beside them; the first two
// are registers recorded from real machines.
struct ProcessorCase {
  const char* name;
  std::vector<Leaf> leaves;
  uint32_t logical;
  int core_records;
  uint32_t registry_mhz;  // 0: no "~MHz" key
  int64_t ticks;          // at 10^9 per second
  uint64_t cycles;
  const char* expected;
};

const ProcessorCase kProcessors[] = {
    {"Intel Core i7-8700K (Coffee Lake): leaf 4 caches, leaf 0x16 clocks",
     {{0, 0, 0x16, 0x756e6547, 0x6c65746e, 0x49656e69},
      {1, 0, 0x000906ea, 0x00100800, 0x7ffafbff, 0xbfebfbff},
      {4, 0, 0x1c004121, 0x01c0003f, 0x0000003f, 0},
      {4, 1, 0x1c004122, 0x01c0003f, 0x0000003f, 0},
      {4, 2, 0x1c004143, 0x00c0003f, 0x000003ff, 0},
      {4, 3, 0x1c03c163, 0x03c0003f, 0x00002fff, 6},
      {7, 0, 0, 0x029c6fbf, 0x40000000, 0},
      {0x16, 0, 0x00000e74, 0x0000125c, 0x00000064, 0},
      {0x80000000, 0, 0x80000008, 0, 0, 0},
      {0x80000001, 0, 0, 0, 0x00000121, 0x2c100000},
      {0x80000002, 0, 0x65746e49, 0x2952286c, 0x726f4320, 0x4d542865},
      {0x80000003, 0, 0x37692029, 0x3037382d, 0x43204b30, 0x40205550},
      {0x80000004, 0, 0x372e3320, 0x7a484730, 0, 0}},
     12,
     6,
     0,
     50000000,
     185000000,
     "{\"vendor\":\"GenuineIntel\",\"brand\":\"Intel(R) Core(TM) i7-8700K CPU @ 3.70GHz\","
     "\"family\":6,\"model\":158,\"stepping\":10,\"physical_cores\":6,\"logical_cores\":12,"
     "\"l1d_kb\":32,\"l1i_kb\":32,\"l2_kb\":256,\"l3_kb\":12288,\"base_mhz\":3700,"
     "\"max_mhz\":4700,\"current_mhz\":3700,\"features\":[\"sse\",\"sse2\",\"htt\",\"sse3\","
     "\"ssse3\",\"fma\",\"sse41\",\"sse42\",\"popcnt\",\"aes\",\"avx\",\"f16c\",\"rdrand\","
     "\"bmi1\",\"avx2\",\"bmi2\",\"rdseed\"],\"hypervisor\":0,\"x64\":1}"},
    {"AMD Phenom II X6 1055T (Thuban): older AMD size leaves, registry base clock",
     {{0, 0, 0x6, 0x68747541, 0x444d4163, 0x69746e65},
      {1, 0, 0x00100fa0, 0x00060800, 0x00802009, 0x178bfbff},
      {0x80000000, 0, 0x8000001b, 0x68747541, 0x444d4163, 0x69746e65},
      {0x80000001, 0, 0x00100fa0, 0x10000050, 0x000037ff, 0xefd3fbff},
      {0x80000002, 0, 0x20444d41, 0x6e656850, 0x74286d6f, 0x4920296d},
      {0x80000003, 0, 0x36582049, 0x35303120, 0x50205435, 0x65636f72},
      {0x80000004, 0, 0x726f7373, 0, 0, 0},
      {0x80000005, 0, 0xff30ff10, 0xff30ff20, 0x40020140, 0x40020140},
      {0x80000006, 0, 0x20800000, 0x42004200, 0x02008140, 0x0030b140}},
     6,
     0,
     2800,
     50000000,
     140000000,
     "{\"vendor\":\"AuthenticAMD\",\"brand\":\"AMD Phenom(tm) II X6 1055T Processor\","
     "\"family\":16,\"model\":10,\"stepping\":0,\"physical_cores\":6,\"logical_cores\":6,"
     "\"l1d_kb\":64,\"l1i_kb\":64,\"l2_kb\":512,\"l3_kb\":6144,\"base_mhz\":2800,"
     "\"max_mhz\":0,\"current_mhz\":2800,\"features\":[\"sse\",\"sse2\",\"htt\",\"sse3\","
     "\"popcnt\"],\"hypervisor\":0,\"x64\":1}"},
    {"Pentium-class processor: no brand leaves, no features, no clock source",
     {{0, 0, 0x1, 0x756e6547, 0x6c65746e, 0x49656e69}, {1, 0, 0x00000543, 0, 0, 0}},
     1,
     0,
     0,
     0,
     0,
     "{\"vendor\":\"GenuineIntel\",\"brand\":\"Unknown\",\"family\":5,\"model\":4,"
     "\"stepping\":3,\"physical_cores\":1,\"logical_cores\":1,\"l1d_kb\":0,\"l1i_kb\":0,"
     "\"l2_kb\":0,\"l3_kb\":0,\"base_mhz\":0,\"max_mhz\":0,\"current_mhz\":-1,\"features\":[],"
     "\"hypervisor\":0,\"x64\":0}"},
};

TEST_F(ReportTest, RecordedProcessorsGiveTheirWholeDocument) {
  for (const ProcessorCase& c : kProcessors) {
    SCOPED_TRACE(c.name);
    fake_processor_reset();
    fake_os_reset();
    set_leaves(c.leaves);
    set_cores(c.logical, c.core_records);
    if (c.registry_mhz != 0) set_registry_mhz(c.registry_mhz);
    set_measurement(c.ticks, c.cycles);
    EXPECT_EQ(report(), c.expected);
  }
}

TEST_F(ReportTest, ProbesRunOnceEachInReportOrder) {
  set_leaves(kProcessors[0].leaves);
  set_cores(12, 6);
  report();
  // Identity; caches (the vendor again, leaf 4 up to its first empty
  // subleaf); nominal clocks; the feature list (13 rows of leaf 1 without
  // "hypervisor", 6 of leaf 7); "x64"; "hypervisor".
  std::vector<std::pair<uint32_t, uint32_t>> expected = {
      {0, 0}, {0x80000000, 0}, {0x80000002, 0}, {0x80000003, 0}, {0x80000004, 0}, {1, 0},
      {0, 0}, {4, 0},          {4, 1},          {4, 2},          {4, 3},          {4, 4}};
  expected.insert(expected.end(), {{0, 0}, {0x16, 0}});
  expected.insert(expected.end(), 13, {1, 0});
  expected.insert(expected.end(), 6, {7, 0});
  expected.insert(expected.end(), {{0x80000000, 0}, {0x80000001, 0}, {1, 0}});
  EXPECT_EQ(g_fake_cpu.queries, expected);
  EXPECT_EQ(g_fake_os.sleeps, std::vector<uint32_t>{50});
  EXPECT_EQ(g_fake_os.system_info_calls, 1);  // logical count; the core list gives the other
  EXPECT_EQ(g_fake_os.core_list_calls, 2);
  EXPECT_EQ(g_fake_os.live_blocks, 0);
}

TEST_F(ReportTest, FailedClockMeasurementsArePrintedUnchanged) {
  struct Case {
    const char* name;
    int64_t frequency, c0, c1;
    uint64_t t0, t1;
    const char* expected;
  } cases[] = {
      {"counter stands still", 1000000000, 7, 7, 0, 100, ",\"current_mhz\":-1,"},
      {"counter runs backwards", 1000000000, 8, 7, 0, 100, ",\"current_mhz\":-1,"},
      {"time-stamp counter one below", 1000000000, 0, 50000000, 1000, 999,
       ",\"current_mhz\":-2147483648,"},
      {"zero frequency, still counter", 0, 7, 7, 0, 100, ",\"current_mhz\":-2147483648,"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fake_os_reset();
    g_fake_os.frequency = c.frequency;
    g_fake_os.counters = {c.c0, c.c1};
    g_fake_os.tscs = {c.t0, c.t1};
    EXPECT_NE(report().find(c.expected), std::string::npos);
  }
}

TEST_F(ReportTest, HypervisorIsAMemberAndNeverAFeature) {
  struct Case {
    const char* name;
    uint32_t leaf1_ecx, leaf1_edx, leaf7_ebx;
    std::string expected;
  } cases[] = {
      {"only leaf 1 ECX bit 31", 0x80000000, 0, 0, "\"features\":[],\"hypervisor\":1,"},
      {"every bit", ~0u, ~0u, ~0u,
       "\"features\":[" + std::string(kAllFeatures) + "],\"hypervisor\":1,"},
      {"every bit but 31", 0x7fffffff, ~0u, ~0u,
       "\"features\":[" + std::string(kAllFeatures) + "],\"hypervisor\":0,"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fake_processor_reset();
    set_leaves({{1, 0, 0, 0, c.leaf1_ecx, c.leaf1_edx}, {7, 0, 0, c.leaf7_ebx, 0, 0}});
    EXPECT_NE(report().find(c.expected), std::string::npos);
  }
}

TEST_F(ReportTest, EachCallRewritesTheSameBufferAndEmptiesTheLastError) {
  set_vendor_bytes(0, "GenuineIntel");
  g_err[0] = 'x';
  const char* first = cpuinfo_get_json();
  EXPECT_EQ(first, g_json);
  EXPECT_EQ(cpuinfo_last_error(), g_err);
  EXPECT_STREQ(cpuinfo_last_error(), "");

  set_vendor_bytes(0, "AuthenticAMD");
  g_err[0] = 'x';
  const char* second = cpuinfo_get_json();
  EXPECT_EQ(second, first);
  EXPECT_EQ(std::string(second).find("{\"vendor\":\"AuthenticAMD\","), 0u);
  EXPECT_STREQ(cpuinfo_last_error(), "");
}

std::string repeat(const std::string& text, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += text;
  return out;
}

TEST_F(ReportTest, VendorAndBrandAreEscapedJsonStrings) {
  struct Case {
    const char* name;
    std::string vendor, brand;            // the bytes of the CPUID leaves
    std::string json_vendor, json_brand;  // as the document writes them
  } cases[] = {
      {"quote and backslash", "Gen\"ine\\Intl", "say \"hi\" C:\\cpu", "Gen\\\"ine\\\\Intl",
       "say \\\"hi\\\" C:\\\\cpu"},
      {"control bytes; 0x7f stays",
       std::string("\x01\x1f"
                   "abcdefghij"),
       "tab\there\nnl\r\x7f", "\\u0001\\u001fabcdefghij", "tab\\u0009here\\u000anl\\u000d\x7f"},
      {"bytes from 0x80 up",
       "\x80\xff\xc3\xa9"
       "12345678",
       "Caf\xc3\xa9 \xe2\x84\xa2", "\\u0080\\u00ff\\u00c3\\u00a912345678",
       "Caf\\u00c3\\u00a9 \\u00e2\\u0084\\u00a2"},
      {"a NUL ends the text", std::string("Genu\0neIntel", 12), std::string("Intel\0Hidden", 12),
       "Genu", "Intel"},
      {"every byte escaped, longest form", std::string(12, '\x9f'), std::string(48, '\xff'),
       repeat("\\u009f", 12), repeat("\\u00ff", 48)},
      {"Intel server", "GenuineIntel", "Intel(R) Xeon(R) Platinum 8380 CPU @ 2.30GHz",
       "GenuineIntel", "Intel(R) Xeon(R) Platinum 8380 CPU @ 2.30GHz"},
      {"AMD, trailing spaces kept", "AuthenticAMD", "AMD Ryzen 9 7950X 16-Core Processor     ",
       "AuthenticAMD", "AMD Ryzen 9 7950X 16-Core Processor     "},
      {"Zhaoxin, spaces in the vendor", "  Shanghai  ", "ZHAOXIN KaiXian KX-U6780A@2.7GHz",
       "  Shanghai  ", "ZHAOXIN KaiXian KX-U6780A@2.7GHz"},
      {"VIA", "CentaurHauls", "VIA Nano processor U2250 (1.6GHz Capable)", "CentaurHauls",
       "VIA Nano processor U2250 (1.6GHz Capable)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fake_processor_reset();
    set_vendor_bytes(0, c.vendor);
    fake_cpuid_set(0x80000000, 0, 0x80000004, 0, 0, 0);
    fake_cpuid_set_brand(c.brand);
    const std::string expected =
        "{\"vendor\":\"" + c.json_vendor + "\",\"brand\":\"" + c.json_brand + "\",\"family\":0,";
    EXPECT_EQ(report().substr(0, expected.size()), expected);
  }
}

TEST_F(ReportTest, FeatureListNamesPresentFeaturesInTableOrder) {
  struct Case {
    const char* name;
    uint32_t leaf1_ecx, leaf1_edx, leaf7_ebx;
    const char* expected;
  } cases[] = {
      {"none", 0, 0, 0, ""},
      {"all 19 reportable", ~0u, ~0u, ~0u, kAllFeatures},
      {"the first three rows", 0, 0x16000000, 0, "\"sse\",\"sse2\",\"htt\""},
      {"sha (bit 29) before avx512f (bit 16)", 0, 0, 0x20010000, "\"sha\",\"avx512f\""},
      {"hypervisor alone", 0x80000000, 0, 0, ""},
      {"one of each leaf", 0x00000001, 0, 0x00000020, "\"sse3\",\"avx2\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fake_processor_reset();
    set_leaves({{1, 0, 0, 0, c.leaf1_ecx, c.leaf1_edx}, {7, 0, 0, c.leaf7_ebx, 0, 0}});
    char buffer[kFeatureListSize];
    memset(buffer, '#', sizeof buffer);
    build_feature_list(buffer);
    EXPECT_STREQ(buffer, c.expected);
  }
  EXPECT_EQ(strlen(kAllFeatures), 138u);  // the longest list
}

// Random registers and operating-system answers, with the highest leaves
// drawn so that every source of every member is taken: each document is
// strict JSON with the 17 members and fits the buffer with its NUL.
TEST_F(ReportTest, RandomProcessorsGiveValidDocuments) {
  std::mt19937 rng(20240611u);
  auto any = [&rng] { return static_cast<uint32_t>(rng()); };
  auto pick = [&rng](const std::vector<uint32_t>& from) { return from[rng() % from.size()]; };
  auto any64 = [&any] { return (static_cast<uint64_t>(any()) << 32) | any(); };
  const std::vector<uint32_t> basic_max = {0, 1, 4, 7, 0x15, 0x16, 0x20, 0x80000000, ~0u};
  const std::vector<uint32_t> extended_max = {0,          13,         0x80000000, 0x80000001,
                                              0x80000003, 0x80000004, 0x8000001C, 0x8000001D,
                                              0x80000028, ~0u};
  const std::vector<std::string> vendors = {"GenuineIntel", "AuthenticAMD", ""};
  int amd_size_leaves = 0, amd_descriptors = 0, leaf4 = 0, leaf16 = 0, registry = 0, brands = 0,
      core_lists = 0;

  for (int round = 0; round < 10000; ++round) {
    fake_processor_reset();
    fake_os_reset();
    std::string vendor = vendors[rng() % vendors.size()];
    if (vendor.empty())
      for (int i = 0; i < 12; ++i) vendor += static_cast<char>(any());
    set_vendor_bytes(pick(basic_max), vendor);
    for (uint32_t leaf : {1u, 7u, 0x16u, 0x80000001u, 0x80000002u, 0x80000003u, 0x80000004u,
                          0x80000005u, 0x80000006u})
      fake_cpuid_set(leaf, 0, any(), any(), any(), any());
    fake_cpuid_set(0x80000000, 0, pick(extended_max), any(), any(), any());
    for (uint32_t leaf : {4u, 0x8000001Du}) {
      const uint32_t end = rng() % 18;  // 16 and 17: no empty descriptor within the walk
      for (uint32_t i = 0; i <= 16; ++i) {
        const uint32_t type = i == end ? 0 : 1 + rng() % 4, level = rng() % 5;
        fake_cpuid_set(leaf, i, (any() & ~0xFFu) | level << 5 | type, any(), any(), any());
      }
    }
    g_fake_os.processor_counts = {any(), any()};
    switch (rng() % 3) {
      case 0:  // records, some of them cores
        for (uint32_t n = rng() % 6; n > 0; --n) fake_os_add_record(rng() % 3, 8 + rng() % 64);
        g_fake_os.probe_error = kOsErrorInsufficientBuffer;
        break;
      case 1:  // random bytes
        g_fake_os.core_list.resize(rng() % 80);
        for (uint8_t& b : g_fake_os.core_list) b = static_cast<uint8_t>(any());
        g_fake_os.probe_error = kOsErrorInsufficientBuffer;
        g_fake_os.fail_alloc = rng() % 4 == 0;
        break;
      default:  // no list
        break;
    }
    g_fake_os.frequency = static_cast<int64_t>(pick({0, 1000000000, 10000000, any()}));
    if (rng() % 4 == 0) g_fake_os.frequency = static_cast<int64_t>(any64());
    const int64_t c0 = static_cast<int64_t>(any64());
    g_fake_os.counters = {c0, rng() % 4 == 0 ? c0 : static_cast<int64_t>(any64())};
    g_fake_os.tscs = {any64(), any64()};
    g_fake_os.reg_open_result = rng() % 2 == 0 ? 0 : 2;
    g_fake_os.reg_value = any();
    g_fake_os.reg_value_size = rng() % 4 == 0 ? 8 : 4;

    const char* json = cpuinfo_get_json();
    ASSERT_EQ(json, g_json);
    const size_t length = strnlen(json, kReportSize);
    ASSERT_LT(length, kReportSize) << "round " << round;
    std::string why;
    ASSERT_TRUE(check_report_json(json, length, &why)) << "round " << round << ": " << why << "\n"
                                                       << json;
    ASSERT_EQ(features_of(json).find("hypervisor"), std::string::npos) << json;

    amd_size_leaves += fake_cpuid_count(0x80000005) > 0;
    amd_descriptors += fake_cpuid_count(0x8000001D) > 0;
    leaf4 += fake_cpuid_count(4) > 0;
    leaf16 += fake_cpuid_count(0x16) > 0;
    registry += g_fake_os.reg_queries > 0;
    brands += fake_cpuid_count(0x80000002) > 0;
    core_lists += g_fake_os.core_list_calls == 2;
  }
  EXPECT_GT(amd_size_leaves, 100);
  EXPECT_GT(amd_descriptors, 100);
  EXPECT_GT(leaf4, 100);
  EXPECT_GT(leaf16, 100);
  EXPECT_GT(registry, 100);
  EXPECT_GT(brands, 100);
  EXPECT_GT(core_lists, 100);
}

// Every recorded processor, in-process: a valid document with no
// "hypervisor" in the feature array.
TEST_F(ReportTest, EveryRecordedProcessorGivesAValidDocument) {
  namespace fs = std::filesystem;
  const std::string dir = recorded_processors_dir(VELQUORN_DUMPS_DIR);
  ASSERT_FALSE(dir.empty()) << "no recorded processors: " << VELQUORN_DUMPS_DIR << " is absent";
  int files = 0;
  for (const fs::directory_entry& entry : fs::directory_iterator(dir)) {
    if (entry.path().extension() != ".cpuid") continue;
    SCOPED_TRACE(entry.path().filename().string());
    ++files;
    fake_processor_reset();
    std::string why;
    ASSERT_TRUE(load_replay_file(entry.path().string(), &g_fake_cpu.leaves, &why)) << why;
    const std::string json = report();
    EXPECT_EQ(features_of(json).find("hypervisor"), std::string::npos) << json;
  }
  EXPECT_GT(files, 0);
}

}  // namespace
