// The operating-system seam on Linux: answers the Windows-shaped questions of
// os.h from get_nprocs, sysfs, /proc/cpuinfo and the monotonic clock. Files are
// read with open/read into stack buffers; nothing here allocates but the heap
// operations themselves.
#include "platform/os_linux.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/sysinfo.h>
#include <time.h>
#include <unistd.h>

#include "platform/os.h"

namespace {

constexpr const char kCpuRoot[] = "/sys/devices/system/cpu";
constexpr const char kCpuinfoPath[] = "/proc/cpuinfo";
constexpr uint32_t kOsErrorInvalidHandle = 6;
constexpr uint32_t kOsErrorInvalidParameter = 87;
constexpr uint32_t kRegDword = 4;
constexpr size_t kPathMax = 512;
// The most CPUs that an x86-64 Linux kernel supports (NR_CPUS); larger CPU
// numbers in sysfs lists are taken as malformed.
constexpr uint32_t kMaxCpus = 8192;

// GetLastError's value, per thread as on Windows. Initial-exec TLS: the
// variable lives in the static TLS block that every thread gets when it is
// created (glibc keeps room there for modules loaded later with dlopen), so
// the first use on a thread allocates nothing, which the general-dynamic
// model of a dlopen'ed module would.
__attribute__((tls_model("initial-exec"))) thread_local uint32_t t_last_error = 0;

// The one registry key that exists and the process heap: each handle is the
// address of a constant of its own.
const char g_cpu0_key_tag = 0;
const char g_heap_tag = 0;

OsKey cpu0_key() { return reinterpret_cast<OsKey>(const_cast<char*>(&g_cpu0_key_tag)); }

// Sequential reader over one file, through a small stack buffer.
struct Reader {
  int fd;
  bool failed;  // a read error, as opposed to the end of the file
  size_t pos;
  size_t len;
  char buf[256];
};

bool reader_open(Reader* r, const char* path) {
  do {
    r->fd = open(path, O_RDONLY | O_CLOEXEC);
  } while (r->fd < 0 && errno == EINTR);
  r->failed = false;
  r->pos = 0;
  r->len = 0;
  return r->fd >= 0;
}

void reader_close(Reader* r) {
  if (r->fd >= 0) close(r->fd);
  r->fd = -1;
}

// The next byte, or -1 at the end of the file or on a read error (failed set).
int reader_peek(Reader* r) {
  if (r->pos == r->len) {
    ssize_t n;
    do {
      n = read(r->fd, r->buf, sizeof r->buf);
    } while (n < 0 && errno == EINTR);
    if (n < 0) r->failed = true;
    if (n <= 0) return -1;
    r->pos = 0;
    r->len = static_cast<size_t>(n);
  }
  return static_cast<unsigned char>(r->buf[r->pos]);
}

int reader_next(Reader* r) {
  int c = reader_peek(r);
  if (c >= 0) ++r->pos;
  return c;
}

// Whether every byte read so far has been taken. Sysfs and proc files this
// small come whole in the first read, so this stands for "nothing follows"
// without spending another read() on the end of the file.
bool reader_drained(const Reader* r) { return r->pos == r->len && !r->failed; }

// A decimal number of at most nine digits; false when none starts here.
bool read_decimal(Reader* r, uint32_t* value) {
  uint32_t v = 0;
  int digits = 0;
  for (int c = reader_peek(r); c >= '0' && c <= '9'; c = reader_peek(r)) {
    if (++digits > 9) return false;
    v = v * 10 + static_cast<uint32_t>(c - '0');
    reader_next(r);
  }
  *value = v;
  return digits > 0;
}

// A whole file holding one decimal number and, at most, a newline after it.
bool read_number_file(const char* path, uint32_t* value) {
  Reader r;
  if (!reader_open(&r, path)) return false;
  bool ok = read_decimal(&r, value);
  if (ok && reader_peek(&r) == '\n') reader_next(&r);
  ok = ok && reader_drained(&r);
  reader_close(&r);
  return ok;
}

// A CPU list as the kernel writes it ("0-3,8,10-11\n"): ranges "N" or "N-M"
// in ascending order, single commas between them, CPU numbers below
// kMaxCpus, then one newline and nothing after it, or the end of the file.
struct CpuList {
  Reader file;
  uint32_t lowest;  // the smallest CPU number that the next range may name
  bool done;
  bool bad;
};

bool cpu_list_open(CpuList* list, const char* path) {
  list->lowest = 0;
  list->done = false;
  list->bad = false;
  return reader_open(&list->file, path);
}

void cpu_list_close(CpuList* list) { reader_close(&list->file); }

// The next range; false at the end of the list and on malformed text or a
// read error (bad set). An empty list is malformed.
bool cpu_list_next(CpuList* list, uint32_t* first, uint32_t* last) {
  if (list->done) return false;
  Reader* r = &list->file;
  bool ok = read_decimal(r, first);
  *last = *first;
  if (ok && reader_peek(r) == '-') {
    reader_next(r);
    ok = read_decimal(r, last);
  }
  ok = ok && *first >= list->lowest && *last >= *first && *last < kMaxCpus;
  if (ok) {
    list->lowest = *last + 1;
    const int c = reader_next(r);
    if (c == '\n') {
      list->done = true;
      ok = reader_drained(r);
    } else if (c == -1) {
      list->done = true;
    } else if (c == ',') {
      ok = reader_peek(r) >= '0' && reader_peek(r) <= '9';
    } else {
      ok = false;
    }
  }
  if (!ok || r->failed) {
    list->done = list->bad = true;
    return false;
  }
  return true;
}

// root + middle + decimal cpu + tail, such as ".../cpu" "12" "/topology/...";
// false when the path would not fit.
bool build_path(char* out, const char* root, const char* middle, uint32_t cpu, const char* tail) {
  char digits[12];
  size_t n = 0;
  do {
    digits[n++] = static_cast<char>('0' + cpu % 10);
    cpu /= 10;
  } while (cpu != 0);
  size_t root_len = strlen(root), middle_len = strlen(middle), tail_len = strlen(tail);
  if (root_len + middle_len + n + tail_len + 1 > kPathMax) return false;
  char* p = out;
  memcpy(p, root, root_len);
  p += root_len;
  memcpy(p, middle, middle_len);
  p += middle_len;
  while (n != 0) *p++ = digits[--n];
  memcpy(p, tail, tail_len + 1);
  return true;
}

bool join_path(char* out, const char* root, const char* tail) {
  size_t root_len = strlen(root), tail_len = strlen(tail);
  if (root_len + tail_len + 1 > kPathMax) return false;
  memcpy(out, root, root_len);
  memcpy(out + root_len, tail, tail_len + 1);
  return true;
}

// Number of CPUs in cpu_root/online; false when it cannot be read or is
// malformed. The list's bounds keep the count at or below kMaxCpus.
bool count_online(const char* cpu_root, uint32_t* count) {
  char path[kPathMax];
  CpuList list;
  if (!join_path(path, cpu_root, "/online") || !cpu_list_open(&list, path)) return false;
  uint32_t total = 0, first, last;
  while (cpu_list_next(&list, &first, &last)) total += last - first + 1;
  cpu_list_close(&list);
  *count = total;
  return !list.bad;
}

enum class Siblings { kOpened, kGone, kFailed };

// Opens the sibling list of one CPU: core_cpus_list, else (older kernels)
// thread_siblings_list. kGone when neither exists: the kernel removes a CPU's
// topology folder when the CPU goes offline.
Siblings open_siblings(CpuList* list, char* path, const char* cpu_root, uint32_t cpu) {
  if (!build_path(path, cpu_root, "/cpu", cpu, "/topology/core_cpus_list"))
    return Siblings::kFailed;
  if (cpu_list_open(list, path)) return Siblings::kOpened;
  if (errno != ENOENT || !build_path(path, cpu_root, "/cpu", cpu, "/topology/thread_siblings_list"))
    return Siblings::kFailed;
  if (cpu_list_open(list, path)) return Siblings::kOpened;
  return errno == ENOENT ? Siblings::kGone : Siblings::kFailed;
}

// Writes one 48-byte core record for a core whose CPUs in group `group` form
// `mask`.
void write_core_record(uint8_t* out, uint64_t mask, uint16_t group, bool smt) {
  memset(out, 0, kOsCoreRecordSize);
  const uint32_t relationship = kOsRelationProcessorCore, size = kOsCoreRecordSize;
  const uint16_t group_count = 1;
  memcpy(out + 0, &relationship, 4);
  memcpy(out + 4, &size, 4);
  out[8] = smt ? 1 : 0;  // Flags: LTP_PC_SMT
  memcpy(out + 30, &group_count, 2);
  memcpy(out + 32, &mask, 8);
  memcpy(out + 40, &group, 2);
}

bool ascii_iequal(const char* a, const char* b) {
  for (;; ++a, ++b) {
    unsigned char x = static_cast<unsigned char>(*a), y = static_cast<unsigned char>(*b);
    if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y - 'A' + 'a');
    if (x != y) return false;
    if (x == 0) return true;
  }
}

bool starts_with(const char* text, const char* prefix) {
  return strncmp(text, prefix, strlen(prefix)) == 0;
}

// Reads one line (without its newline) into line; false at the end of file.
bool read_line(Reader* r, char* line, size_t size) {
  size_t n = 0;
  int c = reader_next(r);
  if (c < 0) return false;
  for (; c >= 0 && c != '\n'; c = reader_next(r))
    if (n + 1 < size) line[n++] = static_cast<char>(c);
  line[n] = '\0';
  return true;
}

// The integer part of the number after the colon of "cpu MHz : 2596.136".
bool parse_mhz_line(const char* line, uint32_t* mhz) {
  const char* p = strchr(line, ':');
  if (p == nullptr) return false;
  ++p;
  while (*p == ' ' || *p == '\t') ++p;
  uint32_t v = 0;
  int digits = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    if (++digits > 9) return false;
    v = v * 10 + static_cast<uint32_t>(*p - '0');
  }
  *mhz = v;
  return digits > 0;
}

}  // namespace

extern "C" {

int os_linux_core_list(const char* cpu_root, void* buffer, uint32_t* length, uint32_t* error) {
  uint32_t online = 0;
  if (!count_online(cpu_root, &online)) {
    *error = kOsErrorFileNotFound;
    return 0;
  }
  // One record per online CPU is the most that the list can hold: at most
  // kMaxCpus records, 384 KiB.
  const uint32_t needed = online * kOsCoreRecordSize;
  if (buffer == nullptr || *length < needed) {
    *length = needed;
    *error = kOsErrorInsufficientBuffer;
    return 0;
  }

  char path[kPathMax];
  CpuList online_list;
  if (!join_path(path, cpu_root, "/online") || !cpu_list_open(&online_list, path)) {
    *error = kOsErrorFileNotFound;
    return 0;
  }
  uint8_t* out = static_cast<uint8_t*>(buffer);
  uint32_t written = 0, first, last;
  bool failed = false;
  // CPUs already named in an earlier CPU's sibling list cannot lead their
  // core (sibling lists are the same for every CPU of a core), so their
  // files are not read: on SMT machines this halves the files opened.
  uint64_t named[kMaxCpus / 64] = {};
  // The CPUs of `online` walked so far, less those whose topology is gone. A
  // CPU leads its core when no CPU before it in its sibling list is among
  // them: a list that still names a CPU gone offline loses no core.
  uint64_t online_below[kMaxCpus / 64] = {};
  while (!failed && cpu_list_next(&online_list, &first, &last)) {
    for (uint32_t cpu = first; cpu <= last && !failed; ++cpu) {
      online_below[cpu / 64] |= uint64_t{1} << (cpu % 64);
      if ((named[cpu / 64] >> (cpu % 64)) & 1) continue;
      CpuList siblings;
      const Siblings opened = open_siblings(&siblings, path, cpu_root, cpu);
      if (opened == Siblings::kGone) {  // went offline after `online` was read
        online_below[cpu / 64] &= ~(uint64_t{1} << (cpu % 64));
        continue;
      }
      if (opened == Siblings::kFailed) {
        failed = true;
        break;
      }
      uint32_t lo, hi, members = 0;
      uint64_t mask = 0;
      bool leads = false, follows = false;
      while (cpu_list_next(&siblings, &lo, &hi)) {
        for (uint32_t s = lo; s <= hi; ++s) {
          named[s / 64] |= uint64_t{1} << (s % 64);
          if (s < cpu) {  // when online, it has counted this core already
            follows = follows || ((online_below[s / 64] >> (s % 64)) & 1);
            continue;
          }
          leads = leads || s == cpu;
          ++members;
          if (s / 64 == cpu / 64) mask |= uint64_t{1} << (s % 64);
        }
      }
      cpu_list_close(&siblings);
      if (siblings.bad) {
        failed = true;
        break;
      }
      if (!leads || follows) continue;
      if (written + kOsCoreRecordSize > *length) {
        failed = true;  // more CPUs came online since the count
        break;
      }
      write_core_record(out + written, mask, static_cast<uint16_t>(cpu / 64), members > 1);
      written += kOsCoreRecordSize;
    }
  }
  cpu_list_close(&online_list);
  // No record at all: every CPU went offline during the walk, or none leads
  // its own core.
  if (failed || online_list.bad || written == 0) {
    *error = kOsErrorFileNotFound;
    return 0;
  }
  *length = written;
  return 1;
}

int os_linux_read_mhz(const char* cpu_root, const char* cpuinfo_path, uint32_t* mhz) {
  char path[kPathMax];
  uint32_t value = 0;
  // intel_pstate (with HWP): the base frequency in kHz, above which the
  // turbo range begins.
  if (join_path(path, cpu_root, "/cpu0/cpufreq/base_frequency") && read_number_file(path, &value) &&
      value >= 1000) {
    *mhz = value / 1000;
    return 1;
  }
  // ACPI CPPC (amd-pstate on AMD Zen 2 and later, many Intel and Arm
  // servers): the frequency of the nominal performance level, the highest
  // that every core sustains at once, in MHz; 0 when the firmware states none.
  if (join_path(path, cpu_root, "/cpu0/acpi_cppc/nominal_freq") && read_number_file(path, &value) &&
      value != 0) {
    *mhz = value;
    return 1;
  }
  // The last resort: the clock that cpuinfo gives processor 0. In a virtual
  // machine it is the stated time-stamp counter rate; on most bare-metal
  // machines it is the current clock.
  Reader r;
  if (!reader_open(&r, cpuinfo_path)) return 0;
  char line[256];
  int processors = 0, found = 0;
  while (!found && read_line(&r, line, sizeof line)) {
    // Only the block of the first processor counts.
    if (starts_with(line, "processor") && ++processors > 1) break;
    if (starts_with(line, "cpu MHz")) found = parse_mhz_line(line, mhz) ? 1 : 0;
  }
  reader_close(&r);
  return found;
}

OsKey os_key_local_machine(void) {
  return reinterpret_cast<OsKey>(static_cast<uintptr_t>(0x80000002u));
}

void os_get_system_info(OsSystemInfo* info) {
  // The online processors: what sysconf(_SC_NPROCESSORS_ONLN) answers in
  // glibc, asked of get_nprocs directly because Debian's libc6 symbols file
  // dates sysconf at 2.34, which would raise the .deb's libc6 dependency.
  int n = get_nprocs();
  info->number_of_processors = n > 0 ? static_cast<uint32_t>(n) : 1;
}

int os_get_core_list(void* buffer, uint32_t* length) {
  uint32_t error = 0;
  int ok = os_linux_core_list(kCpuRoot, buffer, length, &error);
  if (!ok) t_last_error = error;
  return ok;
}

uint32_t os_get_last_error(void) { return t_last_error; }

void* os_get_process_heap(void) { return const_cast<char*>(&g_heap_tag); }

void* os_heap_alloc(void*, uint32_t, size_t bytes) { return malloc(bytes); }

int os_heap_free(void*, uint32_t, void* memory) {
  free(memory);
  return 1;
}

int os_query_performance_frequency(int64_t* frequency) {
  *frequency = 1000000000;
  return 1;
}

int os_query_performance_counter(int64_t* count) {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  *count = static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
  return 1;
}

void os_sleep(uint32_t milliseconds) {
  timespec left;
  left.tv_sec = milliseconds / 1000;
  left.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
  // A signal cuts nanosleep short; sleep on for the time that is left.
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

int32_t os_reg_open_key(OsKey root, const char* sub_key, uint32_t, uint32_t, OsKey* result) {
  uint32_t mhz;
  if (root != os_key_local_machine() || sub_key == nullptr ||
      !ascii_iequal(sub_key, kOsProcessorKey) || !os_linux_read_mhz(kCpuRoot, kCpuinfoPath, &mhz))
    return kOsErrorFileNotFound;
  *result = cpu0_key();
  return 0;
}

int32_t os_reg_query_value(OsKey key, const char* value_name, uint32_t* reserved, uint32_t* type,
                           uint8_t* data, uint32_t* data_size) {
  if (key != cpu0_key()) return kOsErrorInvalidHandle;
  if (reserved != nullptr || (data != nullptr && data_size == nullptr))
    return kOsErrorInvalidParameter;
  uint32_t mhz;
  if (value_name == nullptr || !ascii_iequal(value_name, kOsMhzValue) ||
      !os_linux_read_mhz(kCpuRoot, kCpuinfoPath, &mhz))
    return kOsErrorFileNotFound;
  if (type != nullptr) *type = kRegDword;
  if (data_size == nullptr) return 0;
  if (data != nullptr && *data_size < sizeof mhz) {
    *data_size = sizeof mhz;
    return kOsErrorMoreData;
  }
  if (data != nullptr) memcpy(data, &mhz, sizeof mhz);
  *data_size = sizeof mhz;
  return 0;
}

int32_t os_reg_close_key(OsKey key) { return key == cpu0_key() ? 0 : kOsErrorInvalidHandle; }

}  // extern "C"
