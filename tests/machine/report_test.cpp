// The report of this machine's processor and operating system.
#include "cpuinfo/report.h"

#include <gtest/gtest.h>
#include <stdint.h>
#include <string.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "direct_cpuid.h"
#include "json_check.h"
#include "machine_facts.h"
#include "platform/processor.h"
#include "probe/cpuid.h"
#include "velquorn/cpuinfo.h"

namespace {

// The bytes of the registers, each lowest first, up to the first NUL.
std::string text_of(std::initializer_list<uint32_t> registers) {
  std::string text;
  for (uint32_t r : registers)
    for (int i = 0; i < 4; ++i) text += static_cast<char>((r >> (8 * i)) & 0xFF);
  return text.substr(0, text.find('\0'));
}

// The text of one member's value in a checked report; the key list is the
// document's order, so the value ends where the next key begins.
std::string member(const std::string& json, const char* key) {
  static const char* const kKeys[] = {
      "vendor",        "brand",       "family",   "model",      "stepping", "physical_cores",
      "logical_cores", "l1d_kb",      "l1i_kb",   "l2_kb",      "l3_kb",    "base_mhz",
      "max_mhz",       "current_mhz", "features", "hypervisor", "x64"};
  const std::string open = std::string("\"") + key + "\":";
  const size_t begin = json.find(open) + open.size();
  for (size_t i = 0; i + 1 < sizeof kKeys / sizeof kKeys[0]; ++i) {
    if (strcmp(kKeys[i], key) != 0) continue;
    const size_t end = json.find(std::string(",\"") + kKeys[i + 1] + "\":", begin);
    return json.substr(begin, end - begin);
  }
  return json.substr(begin, json.size() - 1 - begin);  // the last member, before '}'
}

std::string in_quotes(const std::string& text) { return "\"" + text + "\""; }

TEST(MachineReport, IsAValidDocumentAtOneAddressWithAnEmptyLastError) {
  const char* error = cpuinfo_last_error();
  const char* first = cpuinfo_get_json();
  std::string why;
  EXPECT_TRUE(check_report_json(first, strlen(first), &why)) << why << "\n" << first;
  EXPECT_EQ(first, g_json);
  EXPECT_EQ(cpuinfo_get_json(), first);
  EXPECT_EQ(cpuinfo_last_error(), error);
  EXPECT_EQ(error, g_err);
  EXPECT_STREQ(cpuinfo_last_error(), "");
}

TEST(MachineReport, MembersAgreeWithDirectReads) {
  const std::string json = cpuinfo_get_json();
  std::string why;
  ASSERT_TRUE(check_report_json(json, &why)) << why << "\n" << json;

  // CPUID.0: EBX, EDX, ECX hold the vendor text.
  const CpuidResult l0 = direct_cpuid(0, 0);
  EXPECT_EQ(member(json, "vendor"), in_quotes(text_of({l0.ebx, l0.edx, l0.ecx})));

  // CPUID.80000002h..80000004h: the brand, leading spaces dropped.
  std::string brand = "Unknown";
  if (direct_cpuid(0x80000000, 0).eax >= 0x80000004) {
    const CpuidResult a = direct_cpuid(0x80000002, 0), b = direct_cpuid(0x80000003, 0),
                      c = direct_cpuid(0x80000004, 0);
    brand = text_of(
        {a.eax, a.ebx, a.ecx, a.edx, b.eax, b.ebx, b.ecx, b.edx, c.eax, c.ebx, c.ecx, c.edx});
    brand.erase(0, std::min(brand.find_first_not_of(' '), brand.size()));
  }
  EXPECT_EQ(member(json, "brand"), in_quotes(brand));

  // CPUID.1:EAX: stepping 3:0, model 7:4, family 11:8, extended model
  // 19:16, extended family 27:20.
  const uint32_t sig = direct_cpuid(1, 0).eax;
  const uint32_t family = (sig >> 8) & 0xF;
  const uint32_t model =
      (family == 6 || family == 15) ? ((sig >> 12) & 0xF0) | ((sig >> 4) & 0xF) : (sig >> 4) & 0xF;
  EXPECT_EQ(member(json, "family"),
            std::to_string(family == 15 ? family + ((sig >> 20) & 0xFF) : family));
  EXPECT_EQ(member(json, "model"), std::to_string(model));
  EXPECT_EQ(member(json, "stepping"), std::to_string(sig & 0xF));

  // Each named bit read here, in the table's order; CPUID.1:ECX bit 31 is
  // the hypervisor bit, a member of its own.
  std::string features;
  for (const FeatureEntry& f : FEATS) {
    const CpuidResult r = direct_cpuid(f.leaf, f.subleaf);
    const uint32_t reg = f.reg == 1 ? r.ebx : f.reg == 2 ? r.ecx : r.edx;
    if (strcmp(f.name, "hypervisor") == 0 || (reg & f.mask) == 0) continue;
    features += (features.empty() ? "" : ",") + in_quotes(f.name);
  }
  EXPECT_EQ(member(json, "features"), "[" + features + "]");
  EXPECT_EQ(member(json, "hypervisor"), std::to_string(direct_cpuid(1, 0).ecx >> 31));
  EXPECT_EQ(member(json, "x64"), "1");  // this is a 64-bit program
  EXPECT_GE(std::stoi(member(json, "physical_cores")), 1);
  EXPECT_GT(std::stoi(member(json, "current_mhz")), 0);  // the counter advances in 50 ms

  // The counts where the operating system states them to the test too.
  std::string absent;
  const int logical = stated_logical_count(&absent);
  if (logical >= 0) {
    EXPECT_EQ(member(json, "logical_cores"), std::to_string(logical));
  }
#if !defined(_WIN32)
  std::set<std::vector<int>> cores;
  if (linux_cores(&cores, &absent)) {
    EXPECT_EQ(member(json, "physical_cores"), std::to_string(cores.size()));
  }
#endif
}

}  // namespace
