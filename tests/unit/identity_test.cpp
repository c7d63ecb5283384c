// Vendor, brand and signature decoding against the fake processor.
#include "probe/identity.h"

#include <gtest/gtest.h>
#include <stdint.h>
#include <string.h>

#include <string>
#include <utility>

#include "fake_os.h"
#include "fake_processor.h"

namespace {

class IdentityTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake_processor_reset();
    fake_os_reset();
  }
};

struct SignatureCase {
  const char* what;
  uint32_t eax;  // CPUID.1:EAX
  int family, model, stepping;
};

TEST_F(IdentityTest, DecodesTheSignature) {
  // EAX: 27:20 extended family, 19:16 extended model, 13:12 type, 11:8 family,
  // 7:4 model, 3:0 stepping.
  const SignatureCase cases[] = {
      {"base 15, ext family 10, ext model 2, model 1, stepping 0", 0x00A20F10, 25, 33, 0},
      {"base 6, ext model 9, model 14, stepping 10", 0x000906EA, 6, 158, 10},
      {"base 15, ext family 0: ext model 1 and model 4 still count", 0x00010F40, 15, 20, 0},
      {"base 5: ext model 1 is ignored", 0x00010520, 5, 2, 0},
      {"base 5: ext family ignored too", 0x0FF1052F, 5, 2, 15},
      {"base 6: ext family ignored", 0x0FF906EA, 6, 158, 10},
      {"base 15, ext family 255", 0x0FF00F00, 270, 0, 0},
      {"processor type 3 (bits 12-13) is not part of the family", 0x000936EA, 6, 158, 10},
      {"processor type 2 on base 15", 0x00A22F10, 25, 33, 0},
      {"reserved bits 28-31 ignored", 0xF00906EA, 6, 158, 10},
      {"base 4 with ext fields set", 0x00F10480, 4, 8, 0},
      {"all zero", 0x00000000, 0, 0, 0},
  };
  for (const SignatureCase& c : cases) {
    SCOPED_TRACE(c.what);
    fake_processor_reset();
    // Leaf 0 reports highest basic leaf 0: leaf 1 is read all the same.
    fake_cpuid_set_vendor(0, "GenuineIntel");
    fake_cpuid_set(1, 0, c.eax, 0, 0, 0);
    const CpuIdentity id = read_identity();
    EXPECT_EQ(id.family, c.family);
    EXPECT_EQ(id.model, c.model);
    EXPECT_EQ(id.stepping, c.stepping);
  }
}

struct VendorCase {
  uint32_t ebx, edx, ecx;  // CPUID.0
  char expected[13];       // the 13 bytes, NUL included
};

TEST_F(IdentityTest, VendorIsEbxEdxEcxLowestByteFirst) {
  const VendorCase cases[] = {
      {0x756e6547, 0x49656e69, 0x6c65746e, "GenuineIntel"},
      {0x68747541, 0x69746e65, 0x444d4163, "AuthenticAMD"},
      {0x64636261, 0x68676665, 0x6c6b6a69, "abcdefghijkl"},
      // A NUL inside the registers is copied like any other byte.
      {0x00434241, 0x00000044, 0x45000000, {'A', 'B', 'C', 0, 'D', 0, 0, 0, 0, 0, 0, 'E', 0}},
      {0, 0, 0, {}},
  };
  for (const VendorCase& c : cases) {
    SCOPED_TRACE(std::string(c.expected, 12));
    fake_processor_reset();
    fake_cpuid_set(0, 0, 0x16, c.ebx, c.ecx, c.edx);
    const VendorText v = read_vendor();
    EXPECT_EQ(memcmp(v.text, c.expected, 13), 0);
    ASSERT_EQ(g_fake_cpu.queries.size(), 1u);
    EXPECT_EQ(g_fake_cpu.queries[0], std::make_pair(0u, 0u));

    const CpuIdentity id = read_identity();
    EXPECT_EQ(memcmp(id.vendor, c.expected, 13), 0);
  }
}

struct BrandCase {
  const char* what;
  uint32_t max_extended;  // CPUID.80000000h:EAX
  std::string bytes;      // the 48 bytes of 80000002h..80000004h (NUL-padded)
  std::string expected;
};

TEST_F(IdentityTest, BrandText) {
  const std::string forty_eight(48, 'x');
  const std::string fancy = "Intel(R) Core(TM) i7-8700K CPU @ 3.70GHz";
  const BrandCase cases[] = {
      {"highest extended leaf 0x80000004 reads the brand", 0x80000004u, fancy, fancy},
      {"12 leading spaces trimmed", 0x80000008u,
       std::string(12, ' ') + "Intel(R) Xeon(R) CPU @ 2.40GHz", "Intel(R) Xeon(R) CPU @ 2.40GHz"},
      {"trailing spaces kept", 0x80000008u, "AMD Ryzen 9 5900X     ", "AMD Ryzen 9 5900X     "},
      {"both ends", 0x80000008u, "   VIA Nano  ", "VIA Nano  "},
      {"48 spaces", 0x80000008u, std::string(48, ' '), ""},
      {"spaces, then a NUL", 0x80000008u, std::string("    \0tail", 9), ""},
      {"a NUL inside ends the text", 0x80000008u, std::string("AMD\0Athlon(tm)", 14), "AMD"},
      {"48 characters without a NUL", 0x80000008u, forty_eight, forty_eight},
      {"20 spaces and 28 characters without a NUL", 0x80000008u,
       std::string(20, ' ') + std::string(28, 'y'), std::string(28, 'y')},
      {"tabs are not spaces", 0x80000008u, "  \t Xeon", "\t Xeon"},
      {"all zeros", 0x80000008u, "", ""},
      {"highest extended leaf above 0x80000004", 0xFFFFFFFFu, "Geode", "Geode"},
  };
  for (const BrandCase& c : cases) {
    SCOPED_TRACE(c.what);
    fake_processor_reset();
    fake_cpuid_set_vendor(1, "GenuineIntel");
    fake_cpuid_set(0x80000000u, 0, c.max_extended, 0, 0, 0);
    fake_cpuid_set_brand(c.bytes);
    const CpuIdentity id = read_identity();
    ASSERT_LT(strnlen(id.brand, sizeof id.brand), sizeof id.brand);
    EXPECT_EQ(std::string(id.brand), c.expected);
    EXPECT_EQ(fake_cpuid_count(0x80000002u), 1);
    EXPECT_EQ(fake_cpuid_count(0x80000003u), 1);
    EXPECT_EQ(fake_cpuid_count(0x80000004u), 1);
    for (const auto& q : g_fake_cpu.queries) EXPECT_EQ(q.second, 0u) << std::hex << q.first;
  }
}

TEST_F(IdentityTest, BrandIsUnknownWithoutTheBrandLeaves) {
  // Highest extended leaf (compared without sign) below 0x80000004.
  const uint32_t highest[] = {0x80000003u, 0x80000000u, 0, 13, 0x7FFFFFFF};
  for (uint32_t max_extended : highest) {
    SCOPED_TRACE(::testing::Message() << std::hex << "highest extended leaf " << max_extended);
    fake_processor_reset();
    fake_cpuid_set_vendor(1, "AuthenticAMD");
    fake_cpuid_set(0x80000000u, 0, max_extended, 0, 0, 0);
    fake_cpuid_set_brand("   AMD-K6(tm) 3D processor");
    const CpuIdentity id = read_identity();
    EXPECT_STREQ(id.brand, "Unknown");
    EXPECT_EQ(fake_cpuid_count(0x80000002u), 0);
    EXPECT_EQ(fake_cpuid_count(0x80000003u), 0);
    EXPECT_EQ(fake_cpuid_count(0x80000004u), 0);
  }
}

}  // namespace
