// Any bytes, cut at their first NUL, as a feature name. On a processor whose
// feature leaves have every bit set, each of the 21 known names answers 1; with
// every bit clear, 0; every other name answers -1 on both.
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include <set>
#include <string>
#include <vector>

#include "fake_processor.h"
#include "velquorn/cpuinfo.h"

namespace {

// Written out here, not taken from the library's table, so that a name lost
// from or added to that table shows.
const std::set<std::string>& known_names() {
  static const std::set<std::string> names = {
      "x64",   "sse",   "sse2",   "htt",    "sse3", "ssse3",   "fma",
      "sse41", "sse42", "popcnt", "aes",    "avx",  "f16c",    "rdrand",
      "bmi1",  "avx2",  "bmi2",   "rdseed", "sha",  "avx512f", "hypervisor"};
  return names;
}

// The leaves that a feature test reads: 1, 7 and the two extended ones of
// "x64" (80000000h:EAX is then the highest extended leaf, 0xFFFFFFFF or 0).
void set_feature_leaves(uint32_t bits) {
  fake_processor_reset();
  for (uint32_t leaf : {0u, 1u, 7u, 0x80000000u, 0x80000001u})
    fake_cpuid_set(leaf, 0, bits, bits, bits, bits);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<char> name(data, data + size);
  name.push_back('\0');
  const bool known = known_names().count(name.data()) != 0;
  for (uint32_t bits : {0xFFFFFFFFu, 0u}) {
    set_feature_leaves(bits);
    const int got = cpuinfo_has_feature(name.data());
    const int want = !known ? -1 : bits != 0 ? 1 : 0;
    if (got != want) {
      fprintf(stderr, "cpuinfo_has_feature(\"%s\") with registers 0x%08x gave %d, expected %d\n",
              name.data(), bits, got, want);
      abort();
    }
  }
  return 0;
}
