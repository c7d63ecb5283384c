#include "probe/identity.h"

#include <stdint.h>
#include <string.h>

#include "platform/processor.h"

namespace {

constexpr uint32_t kExtendedLeaves = 0x80000000u;
constexpr uint32_t kLastBrandLeaf = 0x80000004u;

void put_register(char* out, uint32_t value) {
  for (int i = 0; i < 4; ++i) out[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

// CPUID.80000002h..80000004h: 48 bytes of brand text, EAX EBX ECX EDX each.
void read_brand(char* brand) {
  if (cpuid_query(kExtendedLeaves, 0).eax < kLastBrandLeaf) {
    memcpy(brand, "Unknown", sizeof "Unknown");
    return;
  }
  for (uint32_t i = 0; i < 3; ++i) {
    CpuidResult r = cpuid_query(0x80000002u + i, 0);
    put_register(brand + 16 * i + 0, r.eax);
    put_register(brand + 16 * i + 4, r.ebx);
    put_register(brand + 16 * i + 8, r.ecx);
    put_register(brand + 16 * i + 12, r.edx);
  }
  brand[48] = '\0';
  // Some processors right-align their brand with leading spaces.
  if (brand[0] == ' ') {
    size_t skip = 0;
    while (brand[skip] == ' ') ++skip;
    memmove(brand, brand + skip, strlen(brand + skip) + 1);
  }
}

}  // namespace

extern "C" {

// CPUID.0: EBX, EDX, ECX hold the vendor text, lowest byte first.
VendorText read_vendor(void) {
  CpuidResult r = cpuid_query(0, 0);
  VendorText v;
  put_register(v.text + 0, r.ebx);
  put_register(v.text + 4, r.edx);
  put_register(v.text + 8, r.ecx);
  v.text[12] = '\0';
  return v;
}

CpuIdentity read_identity(void) {
  CpuIdentity id;
  VendorText vendor = read_vendor();
  memcpy(id.vendor, vendor.text, sizeof id.vendor);
  read_brand(id.brand);

  // CPUID.1:EAX is the signature: stepping 3:0, model 7:4, family 11:8,
  // extended model 19:16, extended family 27:20.
  const uint32_t sig = cpuid_query(1, 0).eax;
  const int base_family = static_cast<int>((sig >> 8) & 0xF);
  const int base_model = static_cast<int>((sig >> 4) & 0xF);
  const int ext_model = static_cast<int>((sig >> 16) & 0xF);
  const int ext_family = static_cast<int>((sig >> 20) & 0xFF);
  id.stepping = static_cast<int>(sig & 0xF);
  id.family = base_family;
  id.model = base_model;
  if (base_family == 15) {
    id.family = 15 + ext_family;
    id.model = ext_model * 16 + base_model;
  } else if (base_family == 6) {
    id.model = ext_model * 16 + base_model;
  }
  return id;
}

}  // extern "C"
