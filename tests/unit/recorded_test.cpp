// Identification and cache sizes of real processors, replayed from recorded
// CPUID answers (folder VELQUORN_DUMPS_DIR, one *.cpuid file per processor).
#include <gtest/gtest.h>
#include <stdint.h>
#include <string.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "fake_os.h"
#include "fake_processor.h"
#include "probe/cache.h"
#include "probe/identity.h"

namespace {

namespace fs = std::filesystem;

class RecordedTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake_processor_reset();
    fake_os_reset();
    dir_ = recorded_processors_dir(VELQUORN_DUMPS_DIR);
    // The folder is part of the repository: without it these tests fail.
    ASSERT_FALSE(dir_.empty()) << "no recorded processors: folder " << VELQUORN_DUMPS_DIR
                               << " is absent";
  }

  // Loads one recorded processor into the fake; false (with a failure) if it cannot.
  bool replay(const std::string& path) {
    fake_processor_reset();
    std::string error;
    if (!load_replay_file(path, &g_fake_cpu.leaves, &error)) {
      ADD_FAILURE() << error;
      return false;
    }
    return true;
  }

  std::string dir_;
};

struct Golden {
  const char* file;
  const char* processor;
  const char* vendor;
  std::string brand;
  int family, model, stepping;
  int l1d, l1i, l2, l3;
};

// Expected values worked out from each file's registers:
// - vendor: leaf 0 EBX, EDX, ECX bytes;
// - brand: 80000002h..80000004h when 80000000h:EAX >= 80000004h, leading
//   spaces dropped;
// - family/model/stepping: leaf 1 EAX;
// - caches: AuthenticAMD and HygonGenuine below 8000001Dh, or with no
//   descriptor at 8000001Dh subleaf 0, read 80000005h/80000006h, otherwise
//   walk 8000001Dh; everyone else walks leaf 4;
//   size = ways * partitions * line * sets / 1024.
const Golden kGolden[] = {
    // Leaf 1 EAX 000206A7. Leaf 4: 1C004121/01C0003F/3F L1d 8*64*64; 1C004122
    // L1i the same; 1C004143/01C0003F/1FF L2 8*64*512; 1C03C163/02C0003F/1FFF
    // L3 12*64*8192. Brand begins with 8 spaces.
    {"GenuineIntel00206A7_SandyBridge_CPUID.cpuid", "Intel Core i5-2400 (Sandy Bridge)",
     "GenuineIntel", "Intel(R) Core(TM) i5-2400 CPU @ 3.10GHz", 6, 42, 7, 32, 32, 256, 6144},
    // Leaf 1 EAX 00100F42. Highest extended leaf 8000001Bh: older leaves.
    // 80000005h ECX 40020140, EDX 40020140; 80000006h ECX 02008140, EDX
    // 0030B140 (L3 field 12).
    {"AuthenticAMD0100F42_K10_Deneb_CPUID.cpuid", "AMD Phenom II X4 940 (K10 Deneb)",
     "AuthenticAMD", "AMD Phenom(tm) II X4 940 Processor", 16, 4, 2, 64, 64, 512, 6144},
    // Leaf 1 EAX 00A20F10. Highest extended leaf 80000023h: 8000001Dh walk.
    // 00004121/01C0003F/3F and 00004122: 8*64*64; 00004143/01C0003F/3FF:
    // 8*64*1024; 0002C163/03C0003F/7FFF: 16*64*32768. Brand ends in 12 spaces.
    {"AuthenticAMD0A20F10_K19_Vermeer2_CPUID.cpuid", "AMD Ryzen 9 5900X (Zen 3 Vermeer)",
     "AuthenticAMD", "AMD Ryzen 9 5900X 12-Core Processor" + std::string(12, ' '), 25, 33, 0, 32,
     32, 512, 32768},
    // Leaf 1 EAX 000307B1: base family 7, so the extended model 3 is dropped.
    // Leaf 4: 1C000121 and 1C000122 8*64*64; 1C00C143/03C0003F/FFF
    // 16*64*4096; no L3 record. Brand begins with 15 spaces.
    {"CentaurHauls00307B1_ZXE_CPUID.cpuid", "Zhaoxin KaiXian KX-U6780A", "CentaurHauls",
     "ZHAOXIN KaiXian KX-U6780A@2.7GHz", 7, 11, 1, 32, 32, 4096, 0},
    // Only leaves 0 and 1; leaf 1 EAX 00000500. No extended leaves: 80000000h
    // answers 0, below 80000004h (brand) and below 8000001Dh (the older
    // leaves, which answer zeros).
    {"AuthenticAMD0000500_K5_CPUID.cpuid", "AMD K5 (SSA/5)", "AuthenticAMD", "Unknown", 5, 0, 0, 0,
     0, 0, 0},
    // Leaf 1 EAX 00000F43. Brand begins with 14 spaces. Leaf 4: 00004121/
    // 01C0003F/1F L1d 8*64*32; 00004143/01C0103F/7FF L2 8 ways * 2 partitions
    // * 64 * 2048; no L1i record (trace cache), no L3.
    {"GenuineIntel0000F43_P4_Prescott_CPUID.cpuid", "Intel Pentium 4 3.20GHz (Prescott-2M)",
     "GenuineIntel", "Intel(R) Pentium(R) 4 CPU 3.20GHz", 15, 4, 3, 16, 0, 2048, 0},
    // Highest basic leaf 16h (leaf 16h: E74h, 125Ch, 64h). Leaf 1 EAX
    // 000906EA. Leaf 4: L1d/L1i 8*64*64; 1C004143/00C0003F/3FF L2 4*64*1024;
    // 1C03C163/03C0003F/2FFF L3 16*64*12288.
    {"GenuineIntel00906EA_Coffeelake_CPUID.cpuid", "Intel Core i7-8700K (Coffee Lake-S)",
     "GenuineIntel", "Intel(R) Core(TM) i7-8700K CPU @ 3.70GHz", 6, 158, 10, 32, 32, 256, 12288},
    // Leaf 0 EBX 74726956, EDX 206C6175, ECX 20555043. Leaf 1 EAX 00000F4A.
    // Brand begins with 26 spaces. Leaf 4 absent: zeros.
    {"Virtual_CPU_0000F4A_X1_x32_CPUID.cpuid", "Virtual CPU @ 3.24GHz (X1, 32-bit recording)",
     "Virtual CPU ", "Virtual CPU @ 3.24GHz", 15, 4, 10, 0, 0, 0, 0},
    // Leaf 1 EAX 00900F02. Hygon takes AMD's path; it has no leaf 4. 8000001Dh:
    // 00004121/01C0003F/3F L1d 8*64*64; 00004122/00C0003F/FF L1i 4*64*256;
    // 00004143/01C0003F/3FF L2 8*64*1024; 0001C163/03C0003F/1FFF L3
    // 16*64*8192. Brand ends in 15 spaces.
    {"HygonGenuine0900F02_Hygon_CPUID.cpuid", "Hygon C86 3185", "HygonGenuine",
     "Hygon C86 3185  8-core Processor" + std::string(15, ' '), 24, 0, 2, 32, 64, 512, 8192},
    // Leaf 1 EAX 00610F01. Highest extended leaf 8000001Eh, but 8000001Dh
    // answers zeros (no topology extensions): older leaves. 80000005h ECX
    // 10040140, EDX 40020140; 80000006h ECX 08008140, EDX 0.
    {"AuthenticAMD0610F01_K15_Piledriver_CPUID.cpuid", "AMD A10-4600M (Piledriver)", "AuthenticAMD",
     "AMD A10-4600M APU with Radeon(tm) HD Graphics  ", 21, 16, 1, 16, 64, 2048, 0},
    // Leaf 1 EAX 000006F1. The 48 brand bytes hold no NUL: 22 spaces, the
    // text, one trailing space. Leaf 4 absent.
    {"CentaurHauls00006F1_CNA_Isaiah_CPUID.cpuid", "VIA Nano 2667MHz (CNA Isaiah)", "CentaurHauls",
     "VIA CNA processor 2667MHz ", 6, 15, 1, 0, 0, 0, 0},
};

TEST_F(RecordedTest, GoldenProcessors) {
  for (const Golden& g : kGolden) {
    SCOPED_TRACE(::testing::Message() << g.file << " (" << g.processor << ")");
    if (!replay(dir_ + "/" + g.file)) continue;
    const CpuIdentity id = read_identity();
    EXPECT_STREQ(id.vendor, g.vendor);
    EXPECT_EQ(std::string(id.brand), g.brand);
    EXPECT_EQ(id.family, g.family);
    EXPECT_EQ(id.model, g.model);
    EXPECT_EQ(id.stepping, g.stepping);
    const CacheSizes c = detect_caches();
    EXPECT_EQ(c.l1d_kb, g.l1d);
    EXPECT_EQ(c.l1i_kb, g.l1i);
    EXPECT_EQ(c.l2_kb, g.l2);
    EXPECT_EQ(c.l3_kb, g.l3);
  }
}

CpuidResult recorded(uint32_t leaf) {
  auto it = g_fake_cpu.leaves.find({leaf, 0});
  return it == g_fake_cpu.leaves.end() ? CpuidResult{0, 0, 0, 0} : it->second;
}

// Number of CPUIDs of `leaf`; fails unless they asked subleaves 0, 1, 2, ... in turn.
int walked_subleaves(uint32_t leaf) {
  uint32_t next = 0;
  for (const auto& q : g_fake_cpu.queries) {
    if (q.first != leaf) continue;
    EXPECT_EQ(q.second, next) << "leaf " << std::hex << leaf;
    ++next;
  }
  return static_cast<int>(next);
}

TEST_F(RecordedTest, EveryRecordedProcessorDecodes) {
  std::vector<std::string> files;
  std::error_code ec;
  for (fs::directory_iterator it(dir_, ec), end; !ec && it != end; it.increment(ec)) {
    if (it->path().extension() == ".cpuid") files.push_back(it->path().filename().string());
  }
  ASSERT_FALSE(ec) << dir_ << ": " << ec.message();
  ASSERT_FALSE(files.empty()) << "no *.cpuid file in " << dir_;
  std::sort(files.begin(), files.end());

  for (const std::string& file : files) {
    SCOPED_TRACE(file);
    if (!replay(dir_ + "/" + file)) continue;

    // Vendor: the 12 bytes of leaf 0 EBX, EDX, ECX.
    const CpuidResult leaf0 = recorded(0);
    char vendor[13] = {};
    const uint32_t words[3] = {leaf0.ebx, leaf0.edx, leaf0.ecx};
    for (int i = 0; i < 12; ++i) vendor[i] = static_cast<char>(words[i / 4] >> (8 * (i % 4)));

    // Signature: leaf 1 EAX.
    const uint32_t sig = recorded(1).eax;
    const int base_family = static_cast<int>(sig >> 8 & 0xF);
    const bool extended = base_family == 6 || base_family == 15;
    const int family = base_family + (base_family == 15 ? static_cast<int>(sig >> 20 & 0xFF) : 0);
    const int model = static_cast<int>((sig >> 4 & 0xF) | (extended ? sig >> 12 & 0xF0 : 0));

    const CpuIdentity id = read_identity();
    EXPECT_EQ(memcmp(id.vendor, vendor, 13), 0) << "vendor " << std::string(id.vendor, 12);
    EXPECT_EQ(id.family, family);
    EXPECT_EQ(id.model, model);
    EXPECT_EQ(id.stepping, static_cast<int>(sig & 0xF));
    ASSERT_LT(strnlen(id.brand, sizeof id.brand), sizeof id.brand);
    EXPECT_NE(id.brand[0], ' ') << "brand \"" << id.brand << '"';
    if (recorded(0x80000000u).eax < 0x80000004u) {
      EXPECT_STREQ(id.brand, "Unknown");
    }

    g_fake_cpu.queries.clear();
    const CacheSizes caches = detect_caches();
    EXPECT_LE(walked_subleaves(4), 16);
    EXPECT_LE(walked_subleaves(0x8000001Du), 16);
    // An AMD-compatible processor that states its L2 in 80000006h ECX 31:16
    // never reports it as 0, whichever leaf gave the sizes.
    if ((strcmp(vendor, "AuthenticAMD") == 0 || strcmp(vendor, "HygonGenuine") == 0) &&
        recorded(0x80000000u).eax >= 0x80000006u && recorded(0x80000006u).ecx >> 16 != 0) {
      EXPECT_NE(caches.l2_kb, 0);
    }
  }
}

}  // namespace
