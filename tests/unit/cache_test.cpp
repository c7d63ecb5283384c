// Cache sizes against the fake processor: choice of source, AMD's older size
// leaves, and the descriptor walk of leaves 4 and 8000001Dh.
#include "probe/cache.h"

#include <gtest/gtest.h>
#include <stdint.h>

#include <string>
#include <utility>
#include <vector>

#include "fake_os.h"
#include "fake_processor.h"

namespace {

class CacheTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake_processor_reset();
    fake_os_reset();
  }
};

struct Sizes {
  int l1d, l1i, l2, l3;
};

void expect_sizes(const CacheSizes& got, const Sizes& want) {
  EXPECT_EQ(got.l1d_kb, want.l1d);
  EXPECT_EQ(got.l1i_kb, want.l1i);
  EXPECT_EQ(got.l2_kb, want.l2);
  EXPECT_EQ(got.l3_kb, want.l3);
}

// One descriptor record: EAX 4:0 type, 7:5 level; EBX 31:22 ways-1,
// 21:12 partitions-1, 11:0 line-1; ECX sets-1.
struct Record {
  uint32_t eax, ebx, ecx;
};

constexpr Record desc(uint32_t type, uint32_t level, uint32_t ways, uint32_t partitions,
                      uint32_t line, uint32_t sets) {
  return Record{type | (level << 5), ((ways - 1) << 22) | ((partitions - 1) << 12) | (line - 1),
                sets - 1};
}

void set_records(uint32_t leaf, const std::vector<Record>& records) {
  for (uint32_t i = 0; i < records.size(); ++i) {
    fake_cpuid_set(leaf, i, records[i].eax, records[i].ebx, records[i].ecx, 0);
  }
}

constexpr uint32_t kAmdDescriptors = 0x8000001Du;

// Every source filled with different sizes, so the answer shows which one was read.
//   leaf 4:          L1d 48, L1i 32, L2 1280, L3 30720 (then type 0)
//   leaf 8000001Dh:  L1d 32, L1i 64, L2 1024, L3 32768 (then type 0)
//   80000005h/6h:    L1d 16, L1i 128, L2 512, L3 field 16 -> 8192
void set_all_sources() {
  set_records(4, {desc(1, 1, 12, 1, 64, 64), desc(2, 1, 8, 1, 64, 64), desc(3, 2, 10, 1, 64, 2048),
                  desc(3, 3, 15, 1, 64, 32768)});
  set_records(kAmdDescriptors, {desc(1, 1, 8, 1, 64, 64), desc(2, 1, 8, 1, 64, 128),
                                desc(3, 2, 8, 1, 64, 2048), desc(3, 3, 16, 1, 64, 32768)});
  fake_cpuid_set(0x80000005u, 0, 0, 0, 16u << 24 | 0x00020140, 128u << 24 | 0x00020140);
  fake_cpuid_set(0x80000006u, 0, 0, 0, 512u << 16 | 0x8140, 16u << 18 | 0x0000B140);
}

enum Source { kLeaf4, kLeaf1D, kOldAmd };

struct ChoiceCase {
  const char* vendor;
  uint32_t max_extended;  // CPUID.80000000h:EAX
  Source source;
  bool empty_1d = false;  // subleaf 0 of 8000001Dh has type 0
};

TEST_F(CacheTest, VendorAndHighestExtendedLeafChooseTheSource) {
  // clang-format off
  const ChoiceCase cases[] = {
      {"AuthenticAMD", 0x8000001Cu, kOldAmd}, {"AuthenticAMD", 0x80000006u, kOldAmd},
      {"AuthenticAMD", 0, kOldAmd},  // unsigned: 0 is below 8000001Dh
      {"AuthenticAMD", 0x1D, kOldAmd},        {"AuthenticAMD", 0x7FFFFFFFu, kOldAmd},
      {"AuthenticAMD", 0x8000001Du, kLeaf1D}, {"AuthenticAMD", 0x80000028u, kLeaf1D},
      {"AuthenticAMD", 0xFFFFFFFFu, kLeaf1D}, {"GenuineIntel", 0x80000008u, kLeaf4},
      {"GenuineIntel", 0x8000001Du, kLeaf4},  {"", 0x8000001Du, kLeaf4},
      {"AuthenticAMd", 0x8000001Du, kLeaf4},  {"AuthenticAM", 0x8000001Du, kLeaf4},
      {"HygonGenuine", 0x8000001Fu, kLeaf1D}, {"HygonGenuine", 0x80000006u, kOldAmd},
      {"HygonGenuinE", 0x8000001Fu, kLeaf4},  {"CentaurHauls", 0x80000008u, kLeaf4},
      // 8000001Dh listed but empty (no topology extensions): the older leaves.
      {"AuthenticAMD", 0x8000001Eu, kOldAmd, true}, {"HygonGenuine", 0x8000001Fu, kOldAmd, true},
      {"GenuineIntel", 0x8000001Eu, kLeaf4, true},
  };
  // clang-format on
  for (const ChoiceCase& c : cases) {
    SCOPED_TRACE(::testing::Message()
                 << '"' << c.vendor << "\" highest extended leaf " << std::hex << c.max_extended);
    fake_processor_reset();
    fake_cpuid_set_vendor(0x10, c.vendor);
    fake_cpuid_set(0x80000000u, 0, c.max_extended, 0, 0, 0);
    set_all_sources();
    if (c.empty_1d) fake_cpuid_set(kAmdDescriptors, 0, 0, 0, 0, 0);
    const CacheSizes got = detect_caches();
    switch (c.source) {
      case kLeaf4:
        expect_sizes(got, {48, 32, 1280, 30720});
        EXPECT_EQ(fake_cpuid_count(4), 5);  // four records and the terminator
        break;
      case kLeaf1D:
        expect_sizes(got, {32, 64, 1024, 32768});
        EXPECT_EQ(fake_cpuid_count(kAmdDescriptors), 5);
        break;
      case kOldAmd:
        expect_sizes(got, {16, 128, 512, 8192});
        EXPECT_EQ(fake_cpuid_count(0x80000005u), 1);
        EXPECT_EQ(fake_cpuid_count(0x80000006u), 1);
        break;
    }
    if (c.source != kLeaf4) {
      EXPECT_EQ(fake_cpuid_count(4), 0);
    }
    if (c.source != kLeaf1D) {
      // An empty 8000001Dh is asked once, on the AMD path only.
      EXPECT_EQ(fake_cpuid_count(kAmdDescriptors), c.empty_1d && c.source == kOldAmd ? 1 : 0);
    }
    if (c.source != kOldAmd) {
      EXPECT_EQ(fake_cpuid_count(0x80000005u), 0);
      EXPECT_EQ(fake_cpuid_count(0x80000006u), 0);
    }
  }
}

struct OldAmdCase {
  const char* what;
  uint32_t ecx5, edx5, ecx6, edx6;  // CPUID.80000005h ECX, EDX; 80000006h ECX, EDX
  Sizes expected;
};

TEST_F(CacheTest, OlderAmdLeaves) {
  // 80000005h: ECX 31:24 L1d KiB, EDX 31:24 L1i KiB. 80000006h: ECX 31:16
  // L2 KiB, EDX 31:18 L3 in 512 KiB units.
  const OldAmdCase cases[] = {
      {"K10 Deneb", 0x40020140, 0x40020140, 0x02008140, 0x0030B140, {64, 64, 512, 6144}},
      {"L3 field 16", 0, 0, 0, 0x00400000, {0, 0, 0, 8192}},
      {"L3 field 16, low 18 bits set", 0, 0, 0, 0x0043FFFF, {0, 0, 0, 8192}},
      {"all bits set (logical shifts)",
       0xFFFFFFFF,
       0xFFFFFFFF,
       0xFFFFFFFF,
       0xFFFFFFFF,
       {255, 255, 65535, 16383 * 512}},
      {"leaves absent", 0, 0, 0, 0, {0, 0, 0, 0}},
  };
  for (const OldAmdCase& c : cases) {
    SCOPED_TRACE(c.what);
    fake_processor_reset();
    fake_cpuid_set_vendor(1, "AuthenticAMD");
    fake_cpuid_set(0x80000000u, 0, 0x8000001Bu, 0, 0, 0);
    fake_cpuid_set(0x80000005u, 0, 0xFF30FF10, 0xFF30FF20, c.ecx5, c.edx5);
    fake_cpuid_set(0x80000006u, 0, 0x20800000, 0x42004200, c.ecx6, c.edx6);
    expect_sizes(detect_caches(), c.expected);
  }
}

struct WalkCase {
  const char* what;
  std::vector<Record> records;  // subleaves 0, 1, ...; unlisted ones answer zeros
  Sizes expected;
  int queries;  // CPUIDs of the walked leaf
};

std::vector<Record> sixteen_l2_then_more() {
  // Subleaf i describes an L2 of (i + 1) * 64 KiB; twenty records in all.
  std::vector<Record> r;
  for (uint32_t i = 0; i < 20; ++i) r.push_back(desc(3, 2, 1, 1, 64, 1024 * (i + 1)));
  return r;
}

TEST_F(CacheTest, DescriptorWalk) {
  const Record l1d32 = desc(1, 1, 8, 1, 64, 64);
  const Record l1i32 = desc(2, 1, 8, 1, 64, 64);
  const WalkCase cases[] = {
      {"8 ways, 1 partition, 64-byte lines, 64 sets: EBX fields 7, 0, 63; ECX 63",
       {{0x00000021, 0x01C0003F, 63}},
       {32, 0, 0, 0},
       2},
      {"Sandy Bridge i5-2400",
       {{0x1C004121, 0x01C0003F, 0x3F},
        {0x1C004122, 0x01C0003F, 0x3F},
        {0x1C004143, 0x01C0003F, 0x1FF},
        {0x1C03C163, 0x02C0003F, 0x1FFF}},
       {32, 32, 256, 6144},
       5},
      {"two partitions count", {desc(3, 2, 8, 2, 64, 2048)}, {0, 0, 2048, 0}, 2},
      {"ECX 0xFFFFFFFF: zero sets, size 0 overwrites",
       {l1d32, {0x21, 0x01C0003F, 0xFFFFFFFF}},
       {0, 0, 0, 0},
       3},
      {"largest fields: low 32 bits of (2^64 - 2^32) >> 10",
       {{0x43, 0xFFFFFFFF, 0xFFFFFFFE}},
       {0, 0, static_cast<int>(0xFFC00000u), 0},
       2},
      {"1024 ways, 64-byte lines, 0x08100000 sets: 2^43 + 2^36 bytes keeps 2^26",
       {{0x43, 0xFFC0003F, 0x080FFFFF}},
       {0, 0, 0x04000000, 0},
       2},
      {"unified level 1 changes nothing",
       {l1d32, l1i32, desc(3, 1, 8, 1, 64, 128)},
       {32, 32, 0, 0},
       4},
      {"data cache at level 2 counts as L2", {desc(1, 2, 8, 1, 64, 512)}, {0, 0, 256, 0}, 2},
      {"instruction cache at level 2 counts as L2",
       {desc(2, 2, 8, 1, 64, 1024)},
       {0, 0, 512, 0},
       2},
      {"instruction cache at level 3 counts as L3", {desc(2, 3, 8, 1, 64, 512)}, {0, 0, 0, 256}, 2},
      {"reserved type 4 at level 2 counts as L2", {desc(4, 2, 4, 1, 64, 512)}, {0, 0, 128, 0}, 2},
      {"reserved type 5 at level 1 is ignored", {desc(5, 1, 8, 1, 64, 64)}, {0, 0, 0, 0}, 2},
      {"levels 0, 4 and 7 ignored",
       {desc(1, 0, 8, 1, 64, 64), desc(3, 4, 16, 1, 64, 65536), desc(3, 7, 16, 1, 64, 65536)},
       {0, 0, 0, 0},
       4},
      {"bits 8-31 of EAX do not change type or level",
       {{0xFC004121, 0x01C0003F, 0x3F}, {0x03FFFF22, 0x01C0003F, 0x3F}},
       {32, 32, 0, 0},
       3},
      {"the last record of a class wins",
       {desc(1, 1, 12, 1, 64, 64), desc(3, 2, 8, 1, 64, 512), l1d32, desc(3, 2, 16, 1, 64, 1024),
        desc(3, 3, 16, 1, 64, 8192), desc(3, 3, 12, 1, 64, 8192)},
       {32, 0, 1024, 6144},
       7},
      {"type 0 at subleaf 0: nothing", {{0x00000060, 0x01C0003F, 0x3F}, l1d32}, {0, 0, 0, 0}, 1},
      {"the walk stops at type 0",
       {l1d32, {0x00000040, 0, 0}, desc(3, 2, 8, 1, 64, 512)},
       {32, 0, 0, 0},
       2},
      {"no more than 16 subleaves", sixteen_l2_then_more(), {0, 0, 1024, 0}, 16},
  };
  // Leaf 4 (any vendor but AMD) and leaf 8000001Dh (AMD) share one layout.
  for (const uint32_t leaf : {4u, kAmdDescriptors}) {
    for (const WalkCase& c : cases) {
      SCOPED_TRACE(::testing::Message() << "leaf " << std::hex << leaf << ": " << c.what);
      fake_processor_reset();
      if (leaf == 4) {
        fake_cpuid_set_vendor(0x16, "GenuineIntel");
      } else {
        fake_cpuid_set_vendor(0x10, "AuthenticAMD");
        fake_cpuid_set(0x80000000u, 0, kAmdDescriptors, 0, 0, 0);
      }
      set_records(leaf, c.records);
      expect_sizes(detect_caches(), c.expected);
      EXPECT_EQ(fake_cpuid_count(leaf), c.queries);
      // Subleaves 0, 1, 2, ... in order, each once.
      uint32_t next = 0;
      for (const auto& q : g_fake_cpu.queries) {
        if (q.first == leaf) {
          EXPECT_EQ(q.second, next++);
        }
      }
    }
  }
}

}  // namespace
