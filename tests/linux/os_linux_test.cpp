// The Linux layer against sysfs trees and cpuinfo files made in a temporary
// folder, and the public registry, counter and sleep operations.
#include "platform/os_linux.h"

#include <errno.h>
#include <ftw.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include <string>
#include <utility>
#include <vector>

#include "platform/os.h"

namespace {

int remove_entry(const char* path, const struct stat*, int, struct FTW*) { return remove(path); }

// Written in place of a file's text: a folder stands at that path instead.
constexpr char kFolder[] = "<folder>";

// A temporary folder standing for /sys/devices/system/cpu (and holding a fake
// /proc/cpuinfo), removed with everything in it when the test ends.
class FakeTree : public ::testing::Test {
 protected:
  void SetUp() override { make_root(); }
  void TearDown() override { remove_root(); }

  void make_root() {
    const char* tmp = getenv("TMPDIR");
    std::string pattern =
        std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/velquorn-sysfs-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    ASSERT_NE(mkdtemp(name.data()), nullptr) << strerror(errno);
    root_ = name.data();
  }

  void remove_root() {
    if (!root_.empty()) nftw(root_.c_str(), remove_entry, 16, FTW_DEPTH | FTW_PHYS);
    root_.clear();
  }

  // Creates root/relative with its parent folders: a file holding `text`, or
  // a folder when text is kFolder.
  void write(const std::string& relative, const char* text) {
    std::string path = root_;
    size_t from = 0;
    for (size_t slash; (slash = relative.find('/', from)) != std::string::npos; from = slash + 1) {
      path = root_ + "/" + relative.substr(0, slash);
      ASSERT_TRUE(mkdir(path.c_str(), 0700) == 0 || errno == EEXIST) << path;
    }
    path = root_ + "/" + relative;
    if (strcmp(text, kFolder) == 0) {
      ASSERT_EQ(mkdir(path.c_str(), 0700), 0) << path;
      return;
    }
    FILE* f = fopen(path.c_str(), "w");
    ASSERT_NE(f, nullptr) << path;
    fputs(text, f);
    fclose(f);
  }

  std::string path(const char* relative) const { return root_ + "/" + relative; }

  std::string root_;
};

// One expected 48-byte core record.
struct Core {
  uint64_t mask;
  uint16_t group;
  bool smt;
};

// SYSTEM_LOGICAL_PROCESSOR_INFORMATION_EX for RelationProcessorCore with one
// GROUP_AFFINITY: Relationship, Size, Flags (1: LTP_PC_SMT),
// EfficiencyClass, Reserved[20], GroupCount at 30, Mask at 32, Group at 40,
// Reserved[3] to 48.
std::vector<uint8_t> core_record(const Core& core) {
  std::vector<uint8_t> r(48, 0);
  const uint32_t size = 48;
  const uint16_t group_count = 1;
  memcpy(&r[4], &size, 4);
  r[8] = core.smt ? 1 : 0;
  memcpy(&r[30], &group_count, 2);
  memcpy(&r[32], &core.mask, 8);
  memcpy(&r[40], &core.group, 2);
  return r;
}

struct CoreListRow {
  const char* name;
  const char* online;  // cpu/online, or null for none
  // (file under cpu/, text): the topology files that exist
  std::vector<std::pair<const char*, const char*>> files;
  std::vector<Core> cores;  // expected records; empty: the query fails with 2
};

const CoreListRow kCoreListRows[] = {
    {"4 CPUs, 2 cores of 2 threads",
     "0-3\n",
     {{"cpu0/topology/core_cpus_list", "0-1\n"},
      {"cpu1/topology/core_cpus_list", "0-1\n"},
      {"cpu2/topology/core_cpus_list", "2-3\n"},
      {"cpu3/topology/core_cpus_list", "2-3\n"}},
     {{0x3, 0, true}, {0xC, 0, true}}},
    {"CPU 3 offline, its topology gone: skipped",
     "0-2\n",
     {{"cpu0/topology/core_cpus_list", "0-1\n"},
      {"cpu1/topology/core_cpus_list", "0-1\n"},
      {"cpu2/topology/core_cpus_list", "2\n"}},
     {{0x3, 0, true}, {0x4, 0, false}}},
    {"older kernel: thread_siblings_list only",
     "0-3\n",
     {{"cpu0/topology/thread_siblings_list", "0-1\n"},
      {"cpu1/topology/thread_siblings_list", "0-1\n"},
      {"cpu2/topology/thread_siblings_list", "2-3\n"},
      {"cpu3/topology/thread_siblings_list", "2-3\n"}},
     {{0x3, 0, true}, {0xC, 0, true}}},
    {"core_cpus_list preferred to thread_siblings_list",
     "0-1\n",
     {{"cpu0/topology/core_cpus_list", "0\n"},
      {"cpu0/topology/thread_siblings_list", "0-1\n"},
      {"cpu1/topology/core_cpus_list", "1\n"},
      {"cpu1/topology/thread_siblings_list", "0-1\n"}},
     {{0x1, 0, false}, {0x2, 0, false}}},
    {"siblings n and n+2 written with a comma",
     "0-3\n",
     {{"cpu0/topology/core_cpus_list", "0,2\n"},
      {"cpu1/topology/core_cpus_list", "1,3\n"},
      {"cpu2/topology/core_cpus_list", "0,2\n"},
      {"cpu3/topology/core_cpus_list", "1,3\n"}},
     {{0x5, 0, true}, {0xA, 0, true}}},
    {"CPUs 0 and 65 lie in groups 0 and 1",
     "0,65\n",
     {{"cpu0/topology/core_cpus_list", "0\n"}, {"cpu65/topology/core_cpus_list", "65\n"}},
     {{0x1, 0, false}, {0x2, 1, false}}},
    // A CPU that goes offline after `online` was read loses its topology
    // folder: it is skipped, and the cores still online are counted.
    {"CPU 3 went offline during the walk",
     "0-3\n",
     {{"cpu0/topology/core_cpus_list", "0-1\n"},
      {"cpu1/topology/core_cpus_list", "0-1\n"},
      {"cpu2/topology/core_cpus_list", "2\n"}},
     {{0x3, 0, true}, {0x4, 0, false}}},
    {"CPU 1 went offline, its topology folder empty",
     "0-2\n",
     {{"cpu0/topology/core_cpus_list", "0\n"},
      {"cpu1/topology", kFolder},
      {"cpu2/topology/thread_siblings_list", "2\n"}},
     {{0x1, 0, false}, {0x4, 0, false}}},
    {"CPU 1 offline, CPU 3's list still names it",
     "0,2-3\n",
     {{"cpu0/topology/core_cpus_list", "0,2\n"},
      {"cpu2/topology/core_cpus_list", "0,2\n"},
      {"cpu3/topology/core_cpus_list", "1,3\n"}},
     {{0x5, 0, true}, {0x8, 0, false}}},
    {"every CPU went offline", "0-1\n", {{"cpu0/topology", kFolder}}, {}},
    // Any other failure to read a sibling list fails the whole list.
    {"sibling list is a folder (read fails)",
     "0-1\n",
     {{"cpu0/topology/core_cpus_list", "0\n"}, {"cpu1/topology/core_cpus_list", kFolder}},
     {}},
    {"topology is a file (open fails, not absent)",
     "0-1\n",
     {{"cpu0/topology/core_cpus_list", "0\n"}, {"cpu1/topology", "0\n"}},
     {}},
    {"no online file", nullptr, {{"cpu0/topology/core_cpus_list", "0\n"}}, {}},
    {"a sibling named by an earlier CPU is not read again",
     "0-1\n",
     {{"cpu0/topology/core_cpus_list", "0-1\n"}, {"cpu1/topology/core_cpus_list", "zero\n"}},
     {{0x3, 0, true}}},
};

class CoreListTest : public FakeTree {};

TEST_F(CoreListTest, OneRecordForEachOnlineCpuThatLeadsItsCore) {
  for (const CoreListRow& row : kCoreListRows) {
    SCOPED_TRACE(row.name);
    remove_root();
    make_root();
    if (row.online != nullptr) write("online", row.online);
    for (const auto& file : row.files) write(file.first, file.second);

    uint8_t buffer[1024];
    memset(buffer, 0xAA, sizeof buffer);
    uint32_t length = sizeof buffer, error = 0;
    const int ok = os_linux_core_list(root_.c_str(), buffer, &length, &error);
    if (row.cores.empty()) {
      EXPECT_EQ(ok, 0);
      EXPECT_EQ(error, 2u);
      continue;
    }
    EXPECT_NE(ok, 0);
    EXPECT_EQ(length, 48 * row.cores.size());
    if (!ok || length != 48 * row.cores.size()) continue;
    for (size_t i = 0; i < row.cores.size(); ++i) {
      SCOPED_TRACE(i);
      EXPECT_EQ(std::vector<uint8_t>(buffer + 48 * i, buffer + 48 * (i + 1)),
                core_record(row.cores[i]));
    }
    EXPECT_EQ(buffer[length], 0xAA);  // nothing written past the records
  }
}

// CPU lists as the kernel writes them: ascending CPU numbers and ranges below
// 8192 (the largest kernel's CPU count), single commas between them, one
// newline at the end.
struct CpuListRow {
  const char* text;
  std::vector<uint32_t> cpus;  // the CPUs it names; empty: malformed
};

const CpuListRow kCpuListRows[] = {
    {"0\n", {0}},
    {"0-1,3\n", {0, 1, 3}},
    {"2", {2}},  // no newline
    {"0,8191\n", {0, 8191}},
    {"", {}},
    {"\n", {}},
    {",0\n", {}},
    {"0,,1\n", {}},
    {"0,1,\n", {}},
    {",\n", {}},
    {"0 1\n", {}},
    {"0-\n", {}},
    {"0-x\n", {}},
    {"3-0\n", {}},
    {"1,0\n", {}},
    {"0-2,2\n", {}},
    {"0\n1\n", {}},
    {"8192\n", {}},
    {"0-8192\n", {}},
    {"0-999999999\n", {}},
    {"1234567890\n", {}},
};

TEST_F(CoreListTest, OnlineAndSiblingListsFollowTheKernelsSyntax) {
  for (const CpuListRow& row : kCpuListRows) {
    SCOPED_TRACE(std::string("list \"") + row.text + "\"");
    remove_root();
    make_root();
    // As `online`, each CPU a core of its own (CPUs 0 and 1 where the list is
    // malformed): the size probe and the walk.
    write("online", row.text);
    std::vector<uint32_t> cpus = row.cpus.empty() ? std::vector<uint32_t>{0, 1} : row.cpus;
    for (uint32_t cpu : cpus) {
      const std::string name = std::to_string(cpu);
      write("cpu" + name + "/topology/core_cpus_list", (name + "\n").c_str());
    }
    uint32_t length = 0, error = 0;
    EXPECT_EQ(os_linux_core_list(root_.c_str(), nullptr, &length, &error), 0);
    uint8_t buffer[1024];
    uint32_t filled = sizeof buffer, fill_error = 0;
    const int ok = os_linux_core_list(root_.c_str(), buffer, &filled, &fill_error);
    if (row.cpus.empty()) {
      EXPECT_EQ(error, 2u) << "size probe";
      EXPECT_EQ(ok, 0);
      EXPECT_EQ(fill_error, 2u);
    } else {
      EXPECT_EQ(error, 122u) << "size probe";
      EXPECT_EQ(length, 48 * row.cpus.size());
      EXPECT_NE(ok, 0);
      EXPECT_EQ(filled, 48 * row.cpus.size());
      if (!ok || filled != 48 * row.cpus.size()) continue;
      for (size_t i = 0; i < row.cpus.size(); ++i) {
        const Core core = {uint64_t{1} << (row.cpus[i] % 64),
                           static_cast<uint16_t>(row.cpus[i] / 64), false};
        EXPECT_EQ(std::vector<uint8_t>(buffer + 48 * i, buffer + 48 * (i + 1)), core_record(core));
      }
      continue;
    }
    // A malformed list as CPU 0's siblings fails the walk.
    write("online", "0-1\n");
    write("cpu0/topology/core_cpus_list", row.text);
    filled = sizeof buffer;
    EXPECT_EQ(os_linux_core_list(root_.c_str(), buffer, &filled, &fill_error), 0) << "siblings";
    EXPECT_EQ(fill_error, 2u);
  }
}

TEST_F(CoreListTest, SizeProbeAndShortBufferAnswer122WithTheSizeNeeded) {
  write("online", "0-3\n");
  for (const char* cpu : {"cpu0", "cpu1", "cpu2", "cpu3"})
    write(std::string(cpu) + "/topology/core_cpus_list", cpu[3] < '2' ? "0-1\n" : "2-3\n");

  struct {
    const char* name;
    bool null_buffer;
    uint32_t length_in;
    int ok;
    uint32_t error;  // when !ok
    uint32_t length_out;
  } const rows[] = {
      // At most one record per online CPU: 4 x 48.
      {"null buffer, length 0", true, 0, 0, 122, 192},
      {"null buffer, length 4096", true, 4096, 0, 122, 192},
      {"buffer of 191 bytes", false, 191, 0, 122, 192},
      {"buffer of 192 bytes: two cores written", false, 192, 1, 0, 96},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    uint8_t buffer[4096];
    memset(buffer, 0xAA, sizeof buffer);
    uint32_t length = row.length_in, error = 0;
    EXPECT_EQ(
        os_linux_core_list(root_.c_str(), row.null_buffer ? nullptr : buffer, &length, &error) != 0,
        row.ok != 0);
    EXPECT_EQ(length, row.length_out);
    if (!row.ok) {
      EXPECT_EQ(error, row.error);
      EXPECT_EQ(buffer[0], 0xAA);  // a refused buffer is left alone
    }
  }
}

// The kernel's statements of a nominal clock, and a cpu MHz line in cpuinfo
// that moves between two reads (as it does on most bare-metal machines, where
// it is the current clock).
struct NominalRow {
  const char* name;
  const char* base_frequency;  // cpu0/cpufreq/base_frequency (kHz), or null
  const char* nominal_freq;    // cpu0/acpi_cppc/nominal_freq (MHz), or null
  uint32_t mhz;                // expected; 0: each read gives the cpu MHz line
};

const NominalRow kNominalRows[] = {
    {"base_frequency (kHz) first", "2100000\n", "2400\n", 2100},
    {"base_frequency rounds down to whole MHz", "2899999\n", nullptr, 2899},
    {"no base_frequency: nominal_freq (MHz)", nullptr, "3300\n", 3300},
    {"nominal_freq without a newline", nullptr, "3300", 3300},
    {"base_frequency of 0: nominal_freq", "0\n", "2450\n", 2450},
    {"base_frequency below 1 MHz: nominal_freq", "999\n", "2450\n", 2450},
    {"base_frequency not a number: nominal_freq", "n/a\n", "2450\n", 2450},
    {"base_frequency with text after it: nominal_freq", "2100000 kHz\n", "2450\n", 2450},
    {"base_frequency unreadable (a folder): nominal_freq", kFolder, "2450\n", 2450},
    {"nominal_freq of 0 (the firmware states none): cpu MHz", nullptr, "0\n", 0},
    {"nominal_freq unreadable (a folder): cpu MHz", nullptr, kFolder, 0},
    {"nominal_freq of ten digits: cpu MHz", nullptr, "1234567890\n", 0},
    {"neither file: cpu MHz", nullptr, nullptr, 0},
};

class MhzTest : public FakeTree {
 protected:
  // os_linux_read_mhz over this tree, with cpuinfo holding `cpuinfo`; false
  // when it finds no value.
  bool read_mhz(const char* cpuinfo, uint32_t* mhz) {
    remove("cpuinfo");
    if (cpuinfo != nullptr) write("cpuinfo", cpuinfo);
    *mhz = 0;
    return os_linux_read_mhz(root_.c_str(), path("cpuinfo").c_str(), mhz) != 0;
  }
  void remove(const char* relative) { unlink(path(relative).c_str()); }
};

TEST_F(MhzTest, NominalClockStaysPutWhileCpuMhzMoves) {
  for (const NominalRow& row : kNominalRows) {
    SCOPED_TRACE(row.name);
    remove_root();
    make_root();
    write("online", "0\n");
    if (row.base_frequency != nullptr) write("cpu0/cpufreq/base_frequency", row.base_frequency);
    if (row.nominal_freq != nullptr) write("cpu0/acpi_cppc/nominal_freq", row.nominal_freq);
    const struct {
      const char* cpuinfo;
      uint32_t cpu_mhz;
    } reads[] = {{"processor\t: 0\ncpu MHz\t\t: 3512.400\n", 3512},
                 {"processor\t: 0\ncpu MHz\t\t: 1400.100\n", 1400}};
    for (const auto& read : reads) {
      uint32_t mhz;
      EXPECT_TRUE(read_mhz(read.cpuinfo, &mhz));
      EXPECT_EQ(mhz, row.mhz != 0 ? row.mhz : read.cpu_mhz);
    }
  }
}

// The last resort: the cpu MHz line of processor 0 in cpuinfo, truncated.
TEST_F(MhzTest, CpuMhzLineOfTheFirstProcessor) {
  const struct {
    const char* name;
    const char* cpuinfo;  // null: no file
    int found;
    uint32_t mhz;
  } rows[] = {
      {"truncated, from processor 0's block",
       "processor\t: 0\nvendor_id\t: AuthenticAMD\ncpu MHz\t\t: 2596.999\ncache size\t: 512 KB\n"
       "\nprocessor\t: 1\ncpu MHz\t\t: 3100.000\n",
       1, 2596},
      {"no processor line", "cpu MHz\t\t: 1200.5\n", 1, 1200},
      {"only processor 1 has cpu MHz", "processor\t: 0\n\nprocessor\t: 1\ncpu MHz\t: 3100\n", 0, 0},
      {"cpu MHz without a number", "processor\t: 0\ncpu MHz\t\t: \n", 0, 0},
      {"cpuinfo without cpu MHz", "processor\t: 0\nmodel name\t: Virtual CPU\n", 0, 0},
      {"no cpuinfo", nullptr, 0, 0},
  };
  write("online", "0\n");
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    uint32_t mhz;
    EXPECT_EQ(read_mhz(row.cpuinfo, &mhz), row.found != 0);
    if (row.found) {
      EXPECT_EQ(mhz, row.mhz);
    }
  }
}

constexpr char kProcessorKey[] = "HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0";

TEST(LinuxRegistry, OnlyProcessorZerosKeyOpens) {
  const OsKey hkcu = reinterpret_cast<OsKey>(static_cast<uintptr_t>(0x80000001u));
  const struct {
    const char* name;
    OsKey root;
    const char* sub_key;
  } rows[] = {
      {"processor 1", os_key_local_machine(), "HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\1"},
      {"parent key", os_key_local_machine(), "HARDWARE\\DESCRIPTION\\System\\CentralProcessor"},
      {"longer path", os_key_local_machine(),
       "HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0\\x"},
      {"empty path", os_key_local_machine(), ""},
      {"null path", os_key_local_machine(), nullptr},
      {"HKEY_CURRENT_USER", hkcu, kProcessorKey},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    OsKey key = nullptr;
    EXPECT_EQ(os_reg_open_key(row.root, row.sub_key, 0, kOsKeyRead, &key), 2);
    EXPECT_EQ(key, nullptr);
  }
}

// The value rows need this machine to report a clock in sysfs or cpuinfo.
class LinuxRegistryValue : public ::testing::Test {
 protected:
  void SetUp() override {
    const int32_t status =
        os_reg_open_key(os_key_local_machine(), kProcessorKey, 0, kOsKeyRead, &key_);
    if (status == 2) {
      GTEST_SKIP() << "this machine reports no processor clock";
    }
    ASSERT_EQ(status, 0);
    ASSERT_NE(key_, nullptr);
  }
  void TearDown() override {
    if (key_ != nullptr) {
      EXPECT_EQ(os_reg_close_key(key_), 0);
    }
  }
  OsKey key_ = nullptr;
};

TEST_F(LinuxRegistryValue, TildeMhzIsA32BitNumberAndNothingElseExists) {
  // Registry paths and names are case-blind.
  OsKey other = nullptr;
  EXPECT_EQ(
      os_reg_open_key(os_key_local_machine(), "hardware\\description\\system\\centralprocessor\\0",
                      0, kOsKeyRead, &other),
      0);
  EXPECT_EQ(other, key_);

  uint32_t reserved = 0;
  const struct {
    const char* name;
    const char* value_name;
    uint32_t* reserved;
    uint32_t size_in;
    int32_t status;
    uint32_t size_out;
  } rows[] = {
      {"~MHz into 4 bytes", "~MHz", nullptr, 4, 0, 4},
      {"~mhz into 8 bytes", "~mhz", nullptr, 8, 0, 4},
      {"~MHz into 3 bytes", "~MHz", nullptr, 3, 234, 4},
      {"~MHz into 0 bytes", "~MHz", nullptr, 0, 234, 4},
      {"reserved argument given", "~MHz", &reserved, 4, 87, 4},
      {"MHz", "MHz", nullptr, 4, 2, 4},
      {"Identifier", "Identifier", nullptr, 4, 2, 4},
      {"empty name", "", nullptr, 4, 2, 4},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    uint8_t data[8] = {0};
    uint32_t size = row.size_in, type = 0;
    EXPECT_EQ(os_reg_query_value(key_, row.value_name, row.reserved, &type, data, &size),
              row.status);
    EXPECT_EQ(size, row.size_out);
    uint32_t mhz;
    memcpy(&mhz, data, 4);
    if (row.status == 0) {
      EXPECT_EQ(type, 4u);  // REG_DWORD
      EXPECT_GT(mhz, 0u);
      EXPECT_LT(mhz, 100000u);
    } else {
      EXPECT_EQ(mhz, 0u);
    }
  }

  // The size alone, with no data buffer.
  uint32_t size = 0;
  EXPECT_EQ(os_reg_query_value(key_, "~MHz", nullptr, nullptr, nullptr, &size), 0);
  EXPECT_EQ(size, 4u);
  // A data buffer with no size is refused.
  uint8_t data[4];
  EXPECT_EQ(os_reg_query_value(key_, "~MHz", nullptr, nullptr, data, nullptr), 87);
}

TEST(LinuxRegistry, UnknownHandlesAreRefused) {
  char other;
  const OsKey bogus = reinterpret_cast<OsKey>(&other);
  uint32_t mhz = 0, size = 4;
  EXPECT_EQ(
      os_reg_query_value(bogus, "~MHz", nullptr, nullptr, reinterpret_cast<uint8_t*>(&mhz), &size),
      6);
  EXPECT_EQ(os_reg_close_key(bogus), 6);
}

volatile sig_atomic_t g_alarms = 0;

TEST(LinuxSleep, FiftyMillisecondsPassEvenWhenSignalsInterrupt) {
  struct sigaction action = {}, previous = {};
  action.sa_handler = [](int) { g_alarms = g_alarms + 1; };
  sigemptyset(&action.sa_mask);
  ASSERT_EQ(sigaction(SIGALRM, &action, &previous), 0);
  // An alarm every 5 ms, from 5 ms on.
  itimerval every5ms = {{0, 5000}, {0, 5000}}, off = {{0, 0}, {0, 0}};
  g_alarms = 0;

  timespec start, end;
  int64_t c0 = 0, c1 = 0, frequency = 0;
  clock_gettime(CLOCK_MONOTONIC, &start);
  os_query_performance_counter(&c0);
  ASSERT_EQ(setitimer(ITIMER_REAL, &every5ms, nullptr), 0);
  os_sleep(50);
  setitimer(ITIMER_REAL, &off, nullptr);
  os_query_performance_counter(&c1);
  clock_gettime(CLOCK_MONOTONIC, &end);
  sigaction(SIGALRM, &previous, nullptr);

  const int64_t elapsed_ns = (static_cast<int64_t>(end.tv_sec) - start.tv_sec) * 1000000000 +
                             (end.tv_nsec - start.tv_nsec);
  EXPECT_GE(g_alarms, 1);
  EXPECT_GE(elapsed_ns, 50000000);
  // The counter counts nanoseconds of the same clock.
  os_query_performance_frequency(&frequency);
  EXPECT_EQ(frequency, 1000000000);
  EXPECT_GE(c1 - c0, 50000000);
  EXPECT_LE(c1 - c0, elapsed_ns);
}

}  // namespace
