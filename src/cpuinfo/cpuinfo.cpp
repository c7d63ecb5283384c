// The library's own texts (version, last error) and the JSON report.
#include "velquorn/cpuinfo.h"

#include <string.h>

#include "cpuinfo/format.h"
#include "cpuinfo/report.h"
#include "probe/cache.h"
#include "probe/clock.h"
#include "probe/cpuid.h"
#include "probe/identity.h"
#include "topology/cores.h"

namespace {

// The project's version, given by the build (CMake's project version).
constexpr const char kVersion[] = VELQUORN_VERSION;

constexpr const char kReportTemplate[] =
    "{\"vendor\":\"%s\",\"brand\":\"%s\",\"family\":%d,\"model\":%d,\"stepping\":%d,"
    "\"physical_cores\":%d,\"logical_cores\":%d,\"l1d_kb\":%d,\"l1i_kb\":%d,\"l2_kb\":%d,"
    "\"l3_kb\":%d,\"base_mhz\":%d,\"max_mhz\":%d,\"current_mhz\":%d,\"features\":[%s],"
    "\"hypervisor\":%d,\"x64\":%d}";

// The longest escape of one byte, "\u00xx".
constexpr size_t kMaxEscape = 6;

// Copies `text` into `out` as the inside of a JSON string: '"' and '\' get a
// backslash, bytes below 0x20 and from 0x80 up become \u00xx, all others stay.
// `out` holds kMaxEscape bytes per input byte and a NUL.
void escape_json(const char* text, char* out) {
  static constexpr char kHex[] = "0123456789abcdef";
  for (; *text != '\0'; ++text) {
    const unsigned char c = static_cast<unsigned char>(*text);
    if (c == '"' || c == '\\') {
      *out++ = '\\';
      *out++ = static_cast<char>(c);
    } else if (c < 0x20 || c >= 0x80) {
      memcpy(out, "\\u00", 4);
      out[4] = kHex[c >> 4];
      out[5] = kHex[c & 0xF];
      out += kMaxEscape;
    } else {
      *out++ = static_cast<char>(c);
    }
  }
  *out = '\0';
}

}  // namespace

extern "C" {

// Zero-filled at load; nothing writes a message into it.
char g_err[256];
// The last report.
char g_json[kReportSize];

const char* cpuinfo_version(void) { return kVersion; }

const char* cpuinfo_last_error(void) { return g_err; }

// "hypervisor" is left out: the report gives it a member of its own.
void build_feature_list(char* buffer) {
  buffer[0] = '\0';
  int used = 0;
  for (const FeatureEntry& f : FEATS) {
    if (strcmp(f.name, "hypervisor") == 0) continue;
    if ((select_register(cpuid_query(f.leaf, f.subleaf), f.reg) & f.mask) == 0) continue;
    const size_t room = kFeatureListSize - static_cast<size_t>(used);
    const int n = format_bounded(buffer + used, room, "%s\"%s\"", used == 0 ? "" : ",", f.name);
    if (n < 0 || static_cast<size_t>(n) >= room) {
      buffer[used] = '\0';  // an item that does not fit whole is left out whole
      break;
    }
    used += n;
  }
}

const char* cpuinfo_get_json(void) {
  // The last-error text is emptied; it is only written when it is not
  // already empty, so a host reading it on another thread never races with
  // a store of the same NUL.
  if (g_err[0] != '\0') g_err[0] = '\0';
  const CpuIdentity id = read_identity();
  const CacheSizes caches = detect_caches();
  const ClockInfo clocks = read_nominal_clocks();
  const int current_mhz = cpuinfo_current_mhz();
  char features[kFeatureListSize];
  build_feature_list(features);
  const int x64 = cpuinfo_has_feature("x64");
  const int hypervisor = cpuinfo_has_feature("hypervisor") == 1 ? 1 : 0;
  const int logical = cpuinfo_logical_cores();
  const int physical = count_physical_cores();

  char vendor[sizeof id.vendor * kMaxEscape];
  char brand[sizeof id.brand * kMaxEscape];
  escape_json(id.vendor, vendor);
  escape_json(id.brand, brand);
  format_bounded(g_json, sizeof g_json, kReportTemplate, vendor, brand, id.family, id.model,
                 id.stepping, physical, logical, caches.l1d_kb, caches.l1i_kb, caches.l2_kb,
                 caches.l3_kb, clocks.base_mhz, clocks.max_mhz, current_mhz, features, hypervisor,
                 x64);
  return g_json;
}

}  // extern "C"
