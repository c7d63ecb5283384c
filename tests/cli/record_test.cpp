// The recorder against the fake processor: every walk rule and bound, and
// that what it writes loads with the replay loader as it is.
#include "record.h"

#include <gtest/gtest.h>
#include <stdint.h>
#include <stdlib.h>

#include <functional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "fake_os.h"
#include "fake_processor.h"
#include "replay/replay.h"

namespace {

using Pair = std::pair<uint32_t, uint32_t>;

class RecordTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake_processor_reset();
    fake_os_reset();
  }
};

// "4" leaf 4 subleaf 0; "4.2" subleaf 2; "0-3" leaves 0 to 3 at subleaf 0;
// "7.0-3f" subleaves 0 to 0x3f of leaf 7. All numbers hexadecimal.
std::vector<Pair> expand(const std::string& spec) {
  std::vector<Pair> pairs;
  std::istringstream words(spec);
  std::string w;
  while (words >> w) {
    const size_t dot = w.find('.');
    const std::string leaf_part = w.substr(0, dot);
    const std::string sub_part = dot == std::string::npos ? "0" : w.substr(dot + 1);
    const auto bounds = [](const std::string& s) {
      const size_t dash = s.find('-');
      const uint32_t lo = static_cast<uint32_t>(strtoul(s.substr(0, dash).c_str(), nullptr, 16));
      const uint32_t hi =
          dash == std::string::npos
              ? lo
              : static_cast<uint32_t>(strtoul(s.substr(dash + 1).c_str(), nullptr, 16));
      return std::make_pair(lo, hi);
    };
    const auto leaves = bounds(leaf_part), subs = bounds(sub_part);
    for (uint32_t l = leaves.first; l >= leaves.first && l <= leaves.second; ++l) {
      for (uint32_t s = subs.first; s <= subs.second; ++s) pairs.emplace_back(l, s);
    }
  }
  return pairs;
}

// A register value that names its pair, so that a misplaced answer shows.
uint32_t tag(uint32_t leaf, uint32_t subleaf) { return (leaf << 8) ^ subleaf ^ 0x5A5A0000u; }

// Sets a pair with EAX and ECX as given and EBX/EDX tagged.
void set(uint32_t leaf, uint32_t subleaf, uint32_t eax, uint32_t ecx = 0, uint32_t edx = 0) {
  fake_cpuid_set(leaf, subleaf, eax, tag(leaf, subleaf), ecx, edx);
}

constexpr uint32_t kHv = 1u << 31;  // CPUID.1:ECX bit 31

struct WalkCase {
  const char* what;
  std::function<void()> processor;
  const char* expected;  // every pair asked, in order
};

TEST_F(RecordTest, WalksEveryDeclaredLeafAndSubleaf) {
  const WalkCase cases[] = {
      {"basic and extended ranges; no hypervisor bit, no hypervisor leaves",
       [] {
         set(0, 0, 2);
         set(0x40000000u, 0, 0x40000003u);
         set(0x80000000u, 0, 0x80000002u);
       },
       "0-2 80000000-80000002"},
      {"hypervisor leaves when CPUID.1:ECX bit 31 is set",
       [] {
         set(0, 0, 1);
         set(1, 0, 0, kHv);
         set(0x40000000u, 0, 0x40000003u);
       },
       "0-1 40000000-40000003 80000000"},
      {"a highest leaf below its range gives the range's first leaf",
       [] {
         set(0, 0, 1);
         set(1, 0, 0, kHv);
         set(0x40000000u, 0, 0);
         set(0x80000000u, 0, 0x12);
       },
       "0-1 40000000 80000000"},
      {"leaf 4 up to and including the first cache type 0",
       [] {
         set(0, 0, 4);
         set(4, 0, 0x121);
         set(4, 1, 0x122);
         set(4, 2, 0x143);
         set(4, 4, 0x163);  // past the end: never asked
       },
       "0-3 4.0-3 80000000"},
      {"leaf 0x8000001D the same way",
       [] {
         set(0x80000000u, 0, 0x8000001Du);
         set(0x8000001Du, 0, 0x121);
         set(0x8000001Du, 2, 0x143);
       },
       "0 80000000-8000001c 8000001d.0-1"},
      {"leaf 7 up to the subleaf count of subleaf 0 EAX",
       [] {
         set(0, 0, 7);
         set(7, 0, 2);
         set(7, 3, 1);  // beyond the count
       },
       "0-6 7.0-2 80000000"},
      {"leaves 0xB and 0x1F up to and including level type 0",
       [] {
         set(0, 0, 0x1F);
         set(0xB, 0, 1, 0x100);
         set(0xB, 1, 4, 0x201);
         set(0x1F, 0, 1, 0x100);
         set(0x1F, 1, 4, 0x201);
         set(0x1F, 2, 5, 0x502);
         set(0x1F, 4, 6, 0x603);  // after the terminator
       },
       "0-a b.0-2 c d.0-1 e-1e 1f.0-3 80000000"},
      {"leaf 0xD: subleaves 0 and 1, then those the XCR0 and IA32_XSS masks declare",
       [] {
         set(0, 0, 0xD);
         set(0xD, 0, 0x7, 0, 0x1);      // x87, SSE, AVX; bit 32
         set(0xD, 1, 0xF, 0x800, 0x2);  // bit 11; bit 33
       },
       "0-c d.0-2 d.b d.20-21 80000000"},
      {"bounds: highest leaves of 0xFFFFFFFF give 256 leaves a range",
       [] {
         set(0, 0, 0xFFFFFFFFu);
         set(1, 0, 0, kHv);
         set(0x40000000u, 0, 0xFFFFFFFFu);
         set(0x80000000u, 0, 0xFFFFFFFFu);
       },
       "0-c d.0-1 e-ff 40000000-400000ff 80000000-800000ff"},
      {"bounds: leaf 4 and 0xB that never end, a leaf 7 count of 0xFFFFFFFF, every XSAVE bit",
       [] {
         set(0, 0, 0xD);
         for (uint32_t s = 0; s < 100; ++s) {
           set(4, s, 0x121);
           set(0xB, s, 1, 0x100);
         }
         set(7, 0, 0xFFFFFFFFu);
         set(0xD, 0, 0xFFFFFFFFu, 0, 0xFFFFFFFFu);
       },
       "0-3 4.0-3f 5-6 7.0-3f 8-a b.0-3f c d.0-3f 80000000"},
  };
  for (const WalkCase& c : cases) {
    SCOPED_TRACE(c.what);
    fake_processor_reset();
    c.processor();
    const Recording rec = record_cpuid();

    std::vector<Pair> asked;
    for (const RecordedAnswer& a : rec.answers) asked.emplace_back(a.leaf, a.subleaf);
    EXPECT_EQ(asked, expand(c.expected));
    EXPECT_FALSE(rec.truncated);
    EXPECT_EQ(g_fake_cpu.queries, asked) << "each pair is asked exactly once";

    // The text loads as it is: one line per answer, no pair twice, the
    // registers the processor gave.
    const std::string text = format_recording(RecordHeader{}, rec);
    ReplayTable table;
    std::string error;
    ASSERT_TRUE(parse_replay(text, "recorded.cpuid", &table, &error)) << error;
    ASSERT_EQ(table.size(), rec.answers.size());
    for (const RecordedAnswer& a : rec.answers) {
      const CpuidResult& want = g_fake_cpu.leaves[{a.leaf, a.subleaf}];
      const CpuidResult& got = table.at({a.leaf, a.subleaf});
      EXPECT_EQ(got.eax, want.eax);
      EXPECT_EQ(got.ebx, want.ebx);
      EXPECT_EQ(got.ecx, want.ecx);
      EXPECT_EQ(got.edx, want.edx);
    }
  }
}

TEST_F(RecordTest, StopsAtTheAnswerLimitAndSaysSo) {
  set(0, 0, 0xFFFFFFFFu);
  RecordLimits limits;
  limits.answers = 10;
  const Recording rec = record_cpuid(limits);
  EXPECT_TRUE(rec.truncated);
  ASSERT_EQ(rec.answers.size(), 10u);
  EXPECT_EQ(g_fake_cpu.queries.size(), 10u);
  const std::string text = format_recording(RecordHeader{}, rec);
  EXPECT_NE(text.find("\n# Stopped at 10 answers: the processor declares more.\n"),
            std::string::npos)
      << text;
  ReplayTable table;
  std::string error;
  ASSERT_TRUE(parse_replay(text, "cut.cpuid", &table, &error)) << error;
  EXPECT_EQ(table.size(), 10u);
}

struct HeaderCase {
  const char* what;
  std::string brand;
  int processor;
  bool pinned;
  const char* brand_line;
  const char* processor_line;
};

TEST_F(RecordTest, HeaderNamesTheMachineAndNoTextAddsAnAnswer) {
  const HeaderCase cases[] = {
      {"a real brand, pinned", "Intel(R) Core(TM) i5-2400 CPU @ 3.10GHz", 3, true,
       "# Brand: Intel(R) Core(TM) i5-2400 CPU @ 3.10GHz\n", "# Logical processor: 3\n"},
      {"a brand that tries to end the comment and add a line", "X\n00000001 00000000 1 2 3 4\r\n\\",
       0, false, "# Brand: X\\x0a00000001 00000000 1 2 3 4\\x0d\\x0a\\\\\n",
       "# Logical processor: 0 (when the recording began)\n"},
      {"bytes from 0x7F up, processor unknown", "\x7f\x80\xff", -1, false,
       "# Brand: \\x7f\\x80\\xff\n", "# Logical processor: unknown\n"},
  };
  set(0, 0, 0);
  const Recording rec = record_cpuid();
  ASSERT_EQ(rec.answers.size(), 2u);  // leaf 0 and 0x80000000
  for (const HeaderCase& c : cases) {
    SCOPED_TRACE(c.what);
    const RecordHeader header{
        "9.8.7", "2026-12-09T12:34:56Z", "Linux 6.1.0 x86_64", 12, c.brand, c.processor, c.pinned};
    const std::string text = format_recording(header, rec);
    for (const char* line :
         {"# Recorded CPUID answers by velquorn-cpuinfo 9.8.7\n",
          "# Date (UTC): 2026-12-09T12:34:56Z\n", "# Operating system: Linux 6.1.0 x86_64\n",
          "# Logical processors: 12\n", c.brand_line, c.processor_line}) {
      EXPECT_NE(text.find(line), std::string::npos) << "missing " << line << "in\n" << text;
    }
    ReplayTable table;
    std::string error;
    ASSERT_TRUE(parse_replay(text, "header.cpuid", &table, &error)) << error;
    EXPECT_EQ(table.size(), 2u);
  }
}

}  // namespace
