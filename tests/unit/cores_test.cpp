// Logical and physical core counts against the fake operating system.
#include "topology/cores.h"

#include <gtest/gtest.h>
#include <stdint.h>
#include <string.h>

#include <vector>

#include "fake_os.h"
#include "fake_processor.h"
#include "velquorn/cpuinfo.h"

namespace {

class CoresTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake_processor_reset();
    fake_os_reset();
  }
};

// Appends `bytes` bytes to the fake core list whose header says Relationship
// `relationship` and Size `size` (the two may disagree, for malformed lists).
void add_raw_record(uint32_t relationship, uint32_t size, uint32_t bytes) {
  std::vector<uint8_t>& list = g_fake_os.core_list;
  const size_t at = list.size();
  list.resize(at + bytes);
  uint8_t header[8];
  memcpy(header, &relationship, 4);
  memcpy(header + 4, &size, 4);
  memcpy(&list[at], header, bytes < 8 ? bytes : 8);
}

// Relationship values other than RelationProcessorCore (0).
constexpr uint32_t kRelationNumaNode = 1;
constexpr uint32_t kRelationCache = 2;
constexpr uint32_t kRelationGroup = 4;

struct Row {
  const char* name;
  void (*arrange)();  // the core list and OS answers of the case
  int expected;       // count_physical_cores()
  int list_calls;     // GetLogicalProcessorInformationEx calls
  int allocations;    // scratch buffers taken
};

// Every case first reads the logical count (4), so the fallback's own reading
// is the second GetSystemInfo answer (6).
constexpr int kLogical = 4;
constexpr int kFresh = 6;

const Row kRows[] = {
    {"three core records of 48 bytes, length 144",
     [] {
       g_fake_os.probe_error = 122;
       for (int i = 0; i < 3; ++i) fake_os_add_record(0, 48);
     },
     3, 2, 1},
    {"a cache record of 80 bytes between two cores is walked past",
     [] {
       g_fake_os.probe_error = 122;
       fake_os_add_record(0, 48);
       fake_os_add_record(kRelationCache, 80);
       fake_os_add_record(0, 48);
     },
     2, 2, 1},
    {"more cores than the calling group's logical processors",
     [] {
       g_fake_os.probe_error = 122;
       for (int i = 0; i < 5; ++i) fake_os_add_record(0, 48);
     },
     5, 2, 1},
    {"probe error 87 instead of 122",
     [] {
       g_fake_os.probe_error = 87;
       fake_os_add_record(0, 48);
     },
     kFresh, 1, 0},
    {"probe answers 122 with length 0",
     [] {
       g_fake_os.probe_error = 122;
       g_fake_os.probe_length_set = true;
       g_fake_os.probe_length = 0;
       fake_os_add_record(0, 48);
     },
     kFresh, 1, 0},
    {"allocation fails",
     [] {
       g_fake_os.probe_error = 122;
       g_fake_os.fail_alloc = true;
       fake_os_add_record(0, 48);
     },
     kFresh, 1, 0},
    {"second call fails",
     [] {
       g_fake_os.probe_error = 122;
       g_fake_os.fill_fails = true;
       fake_os_add_record(0, 48);
     },
     kFresh, 2, 1},
    {"second call succeeds with length 0",
     [] {
       g_fake_os.probe_error = 122;
       g_fake_os.fill_length_set = true;
       g_fake_os.fill_length = 0;
       fake_os_add_record(0, 48);
     },
     kFresh, 2, 1},
    {"second call claims 192 bytes in a buffer of 144",
     [] {
       g_fake_os.probe_error = 122;
       g_fake_os.probe_length_set = true;
       g_fake_os.probe_length = 144;
       for (int i = 0; i < 4; ++i) fake_os_add_record(0, 48);  // fill length 192
     },
     kFresh, 2, 1},
    {"no core record: NUMA node, cache and group records",
     [] {
       g_fake_os.probe_error = 122;
       fake_os_add_record(kRelationNumaNode, 48);
       fake_os_add_record(kRelationCache, 48);
       fake_os_add_record(kRelationGroup, 48);
     },
     kFresh, 2, 1},
    {"second record has Size 0",
     [] {
       g_fake_os.probe_error = 122;
       add_raw_record(0, 48, 48);
       add_raw_record(0, 0, 48);
       add_raw_record(0, 48, 48);
     },
     kFresh, 2, 1},
    {"first record has Size 4, below its own header",
     [] {
       g_fake_os.probe_error = 122;
       add_raw_record(0, 4, 48);
       add_raw_record(0, 44, 44);
     },
     kFresh, 2, 1},
    {"third record's Size 64 runs past length 144",
     [] {
       g_fake_os.probe_error = 122;
       add_raw_record(0, 48, 48);
       add_raw_record(0, 48, 48);
       add_raw_record(0, 64, 48);
     },
     kFresh, 2, 1},
    {"4 bytes after the last record, too few for a header",
     [] {
       g_fake_os.probe_error = 122;
       add_raw_record(0, 48, 48);
       add_raw_record(0, 48, 48);
       add_raw_record(0, 0, 4);
     },
     kFresh, 2, 1},
};

TEST_F(CoresTest, PhysicalCountFromTheCoreListElseAFreshLogicalReading) {
  for (const Row& row : kRows) {
    SCOPED_TRACE(row.name);
    fake_os_reset();
    g_fake_os.processor_counts = {kLogical, kFresh};
    row.arrange();
    const uint32_t probe_length = g_fake_os.probe_length_set
                                      ? g_fake_os.probe_length
                                      : static_cast<uint32_t>(g_fake_os.core_list.size());

    EXPECT_EQ(cpuinfo_logical_cores(), kLogical);
    EXPECT_EQ(count_physical_cores(), row.expected);
    // A list that answers reads GetSystemInfo no more; a fallback reads it anew.
    EXPECT_EQ(g_fake_os.system_info_calls, row.expected == kFresh ? 2 : 1);
    EXPECT_EQ(g_fake_os.core_list_calls, row.list_calls);
    EXPECT_EQ(g_fake_os.allocs, row.allocations);
    EXPECT_EQ(g_fake_os.frees, g_fake_os.allocs);
    EXPECT_EQ(g_fake_os.live_blocks, 0);
    if (row.allocations != 0) {
      // The scratch buffer has exactly the size the probe asked for.
      ASSERT_EQ(g_fake_os.alloc_sizes.size(), 1u);
      EXPECT_EQ(g_fake_os.alloc_sizes[0], probe_length);
      // The second call is given the probe's size as the buffer's length.
      if (row.list_calls == 2) {
        EXPECT_EQ(g_fake_os.fill_length_given, probe_length);
      }
    }
  }
}

TEST_F(CoresTest, LogicalCountIsEachCallsOwnReading) {
  g_fake_os.processor_counts = {12, 1, 64};
  EXPECT_EQ(cpuinfo_logical_cores(), 12);
  EXPECT_EQ(cpuinfo_logical_cores(), 1);
  EXPECT_EQ(cpuinfo_logical_cores(), 64);
  EXPECT_EQ(g_fake_os.system_info_calls, 3);
}

}  // namespace
