#include "fake_processor.h"

#include <string.h>

#include <filesystem>

FakeProcessor g_fake_cpu;

void fake_processor_reset() {
  g_fake_cpu.leaves.clear();
  g_fake_cpu.queries.clear();
}

void fake_cpuid_set(uint32_t leaf, uint32_t subleaf, uint32_t eax, uint32_t ebx, uint32_t ecx,
                    uint32_t edx) {
  g_fake_cpu.leaves[{leaf, subleaf}] = CpuidResult{eax, ebx, ecx, edx};
}

int fake_cpuid_count(uint32_t leaf) {
  int n = 0;
  for (const auto& q : g_fake_cpu.queries) n += q.first == leaf ? 1 : 0;
  return n;
}

namespace {

uint32_t pack4(const char* p) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(p[i]);
  return v;
}

}  // namespace

void fake_cpuid_set_vendor(uint32_t max_basic, const char* vendor12) {
  char v[12] = {};
  memcpy(v, vendor12, strnlen(vendor12, 12));
  fake_cpuid_set(0, 0, max_basic, pack4(v), pack4(v + 8), pack4(v + 4));
}

void fake_cpuid_set_brand(const std::string& brand48) {
  char b[48] = {};
  memcpy(b, brand48.data(), brand48.size() < 48 ? brand48.size() : 48);
  for (uint32_t i = 0; i < 3; ++i) {
    const char* p = b + 16 * i;
    fake_cpuid_set(0x80000002u + i, 0, pack4(p), pack4(p + 4), pack4(p + 8), pack4(p + 12));
  }
}

extern "C" CpuidResult cpuid_query(uint32_t leaf, uint32_t subleaf) {
  g_fake_cpu.queries.emplace_back(leaf, subleaf);
  auto it = g_fake_cpu.leaves.find({leaf, subleaf});
  return it == g_fake_cpu.leaves.end() ? CpuidResult{0, 0, 0, 0} : it->second;
}

void processor_answer_from(const ReplayTable& table) { g_fake_cpu.leaves = table; }

std::string recorded_processors_dir(const std::string& dir) {
  for (const std::string& candidate : {dir, "Z:" + dir}) {
    std::error_code ignored;
    if (std::filesystem::is_directory(candidate, ignored)) return candidate;
  }
  return "";
}
