#include "probe/cache.h"

#include <stdint.h>
#include <string.h>

#include "platform/processor.h"
#include "probe/identity.h"

namespace {

constexpr uint32_t kExtendedLeaves = 0x80000000u;
constexpr uint32_t kAmdL1Leaf = 0x80000005u;
constexpr uint32_t kAmdL2L3Leaf = 0x80000006u;
constexpr uint32_t kAmdDescriptorLeaf = 0x8000001Du;
constexpr uint32_t kIntelDescriptorLeaf = 4;
constexpr uint32_t kMaxDescriptors = 16;

// Cache descriptors (leaf 4, and AMD's leaf 8000001Dh in the same layout):
// EAX 4:0 type (0 none, 1 data, 2 instruction, 3 unified), EAX 7:5 level,
// EBX 11:0 line size - 1, EBX 21:12 partitions - 1, EBX 31:22 ways - 1,
// ECX sets - 1. Fills `sizes` and tells whether subleaf 0 held a descriptor.
bool walk_descriptors(uint32_t leaf, CacheSizes* out) {
  CacheSizes sizes = {0, 0, 0, 0};
  uint32_t i = 0;
  for (; i < kMaxDescriptors; ++i) {
    const CpuidResult r = cpuid_query(leaf, i);
    const uint32_t type = r.eax & 0x1F;
    const uint32_t level = (r.eax >> 5) & 0x7;
    if (type == 0) break;
    const uint64_t line = (r.ebx & 0xFFF) + 1;
    const uint64_t partitions = ((r.ebx >> 12) & 0x3FF) + 1;
    const uint64_t ways = ((r.ebx >> 22) & 0x3FF) + 1;
    const uint64_t sets = static_cast<uint32_t>(r.ecx + 1);  // wraps: 0xFFFFFFFF gives 0
    const int size_kb =
        static_cast<int>(static_cast<uint32_t>((ways * partitions * line * sets) >> 10));
    if (type == 1 && level == 1) {
      sizes.l1d_kb = size_kb;
    } else if (type == 2 && level == 1) {
      sizes.l1i_kb = size_kb;
    } else if (level == 2) {
      sizes.l2_kb = size_kb;
    } else if (level == 3) {
      sizes.l3_kb = size_kb;
    }
  }
  *out = sizes;
  return i > 0;
}

// AMD's older size leaves: CPUID.80000005h ECX 31:24 L1d KiB, EDX 31:24 L1i
// KiB; CPUID.80000006h ECX 31:16 L2 KiB, EDX 31:18 L3 in 512 KiB units.
CacheSizes read_amd_size_leaves() {
  const CpuidResult l1 = cpuid_query(kAmdL1Leaf, 0);
  const CpuidResult l23 = cpuid_query(kAmdL2L3Leaf, 0);
  CacheSizes sizes;
  sizes.l1d_kb = static_cast<int>(l1.ecx >> 24);
  sizes.l1i_kb = static_cast<int>(l1.edx >> 24);
  sizes.l2_kb = static_cast<int>(l23.ecx >> 16);
  sizes.l3_kb = static_cast<int>((l23.edx >> 18) * 512);
  return sizes;
}

// Hygon's processors carry AMD's cache leaves and have no leaf 4.
bool reads_amd_cache_leaves(const char* vendor) {
  return strcmp(vendor, "AuthenticAMD") == 0 || strcmp(vendor, "HygonGenuine") == 0;
}

}  // namespace

extern "C" CacheSizes detect_caches(void) {
  const VendorText vendor = read_vendor();
  CacheSizes sizes;
  if (!reads_amd_cache_leaves(vendor.text)) {
    walk_descriptors(kIntelDescriptorLeaf, &sizes);
    return sizes;
  }
  if (cpuid_query(kExtendedLeaves, 0).eax < kAmdDescriptorLeaf) return read_amd_size_leaves();
  // Leaf 8000001Dh answers zeros where the topology extensions are absent
  // (family 15h parts, virtual machines that hide them): with no descriptor
  // at subleaf 0 the older size leaves still state the caches.
  if (walk_descriptors(kAmdDescriptorLeaf, &sizes)) return sizes;
  return read_amd_size_leaves();
}
