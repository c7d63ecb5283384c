// The replay loader: recorded CPUID answers in text form, fed to the fake
// processor.
#include <gtest/gtest.h>
#include <stdint.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "fake_os.h"
#include "fake_processor.h"

namespace {

using Table = std::map<std::pair<uint32_t, uint32_t>, CpuidResult>;

class ReplayTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake_processor_reset();
    fake_os_reset();
  }
};

struct Entry {
  uint32_t leaf, subleaf, eax, ebx, ecx, edx;
};

struct GoodCase {
  const char* what;
  const char* text;
  std::vector<Entry> expected;  // the whole table, nothing more
};

TEST_F(ReplayTest, AcceptsWellFormedText) {
  const GoodCase cases[] = {
      {"plain lines",
       "00000000 00000000 0000000d 756e6547 6c65746e 49656e69\n"
       "00000001 00000000 000206a7 00100800 1fbae3ff bfebfbff\n",
       {{0, 0, 0xd, 0x756e6547, 0x6c65746e, 0x49656e69},
        {1, 0, 0x206a7, 0x100800, 0x1fbae3ff, 0xbfebfbff}}},
      {"comments, blank lines, tabs and a last line without newline",
       "# leaf subleaf eax ebx ecx edx\n"
       "\n"
       "   \t \n"
       "00000004 00000000 1c004121 01c0003f 0000003f 00000000  # L1d\n"
       "\t80000000\t0\t80000008 0 0 0",
       {{4, 0, 0x1c004121, 0x01c0003f, 0x3f, 0}, {0x80000000u, 0, 0x80000008u, 0, 0, 0}}},
      {"0x and 0X prefixes, mixed-case digits",
       "0x4 0X1 0x1C004122 0x01C0003F 0x3f 0xabcDEF01\n",
       {{4, 1, 0x1c004122, 0x01c0003f, 0x3f, 0xabcdef01}}},
      {"hexadecimal subleaf 0000000a is ten",
       "0000000b 0000000a 00000001 00000002 00000003 00000004\n",
       {{0xb, 10, 1, 2, 3, 4}}},
      {"same leaf, several subleaves",
       "4 0 1 0 0 0\n4 1 2 0 0 0\n4 10 3 0 0 0\n",
       {{4, 0, 1, 0, 0, 0}, {4, 1, 2, 0, 0, 0}, {4, 0x10, 3, 0, 0, 0}}},
      {"CRLF line ends",
       "1 0 a b c d\r\n2 0 e f 10 11\r\n",
       {{1, 0, 0xa, 0xb, 0xc, 0xd}, {2, 0, 0xe, 0xf, 0x10, 0x11}}},
      {"eight digits, all ones",
       "ffffffff ffffffff ffffffff ffffffff ffffffff ffffffff\n",
       {{~0u, ~0u, ~0u, ~0u, ~0u, ~0u}}},
      {"only comments", "# nothing recorded\n\n", {}},
  };
  for (const GoodCase& c : cases) {
    SCOPED_TRACE(c.what);
    // The file replaces whatever the table held: no leaf of an earlier processor stays.
    Table table = {{{0x12345678u, 9}, CpuidResult{1, 2, 3, 4}}};
    std::string error;
    ASSERT_TRUE(parse_replay(c.text, "good.cpuid", &table, &error)) << error;
    ASSERT_EQ(table.size(), c.expected.size());
    for (const Entry& e : c.expected) {
      auto it = table.find({e.leaf, e.subleaf});
      ASSERT_NE(it, table.end()) << std::hex << "leaf " << e.leaf << " subleaf " << e.subleaf;
      EXPECT_EQ(it->second.eax, e.eax);
      EXPECT_EQ(it->second.ebx, e.ebx);
      EXPECT_EQ(it->second.ecx, e.ecx);
      EXPECT_EQ(it->second.edx, e.edx);
    }
  }
}

struct BadCase {
  const char* what;
  const char* text;
  const char* prefix;  // the message begins with "<file>:<line>:"
};

TEST_F(ReplayTest, RejectsMalformedTextNamingFileAndLine) {
  const BadCase cases[] = {
      {"five numbers",
       "# header\n"
       "1 0 0 0 0 0\n"
       "2 0 0 0 0\n",
       "bad.cpuid:3:"},
      {"seven numbers", "1 0 0 0 0 0 0\n", "bad.cpuid:1:"},
      {"a word that is not hexadecimal", "\n\n1 0 0000000g 0 0 0\n", "bad.cpuid:3:"},
      {"a nine-digit number", "1 0 0 0 0 0\n1 1 000000001 0 0 0\n", "bad.cpuid:2:"},
      {"nine digits after 0x", "0x123456789 0 0 0 0 0\n", "bad.cpuid:1:"},
      {"a bare 0x", "1 0x 0 0 0 0\n", "bad.cpuid:1:"},
      {"a sign", "1 0 -1 0 0 0\n", "bad.cpuid:1:"},
      {"numbers run together with a comma", "1,0 0 0 0 0 0\n", "bad.cpuid:1:"},
      {"a pair listed twice",
       "00000004 00000000 1 0 0 0\n"
       "00000004 00000001 2 0 0 0\n"
       "# comment\n"
       "00000004 00000000 3 0 0 0\n",
       "bad.cpuid:4:"},
      {"a pair listed twice in different spellings", "0x4 0xA 1 0 0 0\n00000004 0000000a 1 0 0 0\n",
       "bad.cpuid:2:"},
      {"a cpu line without a number", "cpu 0\n1 0 0 0 0 0\ncpu\n1 0 0 0 0 0\n", "bad.cpuid:3:"},
      {"a cpu number in hexadecimal", "cpu 0x1\n1 0 0 0 0 0\n", "bad.cpuid:1:"},
      {"a processor listed twice", "cpu 2\n1 0 0 0 0 0\ncpu 02\n1 0 0 0 0 0\n", "bad.cpuid:3:"},
      {"a cpu line with no answers before the next", "cpu 0\ncpu 1\n1 0 0 0 0 0\n", "bad.cpuid:1:"},
      {"a cpu line with no answers before the end", "cpu 0\n1 0 0 0 0 0\ncpu 1\n# none\n",
       "bad.cpuid:3:"},
      {"answers before the first cpu line", "1 0 0 0 0 0\ncpu 1\n2 0 0 0 0 0\n", "bad.cpuid:2:"},
  };
  for (const BadCase& c : cases) {
    SCOPED_TRACE(c.what);
    // A failed parse leaves the caller's table as it was.
    Table table = {{{7, 0}, CpuidResult{1, 2, 3, 4}}};
    std::string error;
    EXPECT_FALSE(parse_replay(c.text, "bad.cpuid", &table, &error));
    EXPECT_EQ(error.rfind(c.prefix, 0), 0u) << "message: " << error;
    ASSERT_EQ(table.size(), 1u);
    EXPECT_EQ(table.begin()->second.ecx, 3u);
  }
}

TEST_F(ReplayTest, UnlistedPairsAnswerZerosThroughCpuidQuery) {
  std::string error;
  ASSERT_TRUE(parse_replay("0 0 d 756e6547 6c65746e 49656e69\n4 1 1c004122 1c0003f 3f 0\n",
                           "fake.cpuid", &g_fake_cpu.leaves, &error))
      << error;

  const CpuidResult listed = cpuid_query(4, 1);
  EXPECT_EQ(listed.eax, 0x1c004122u);
  EXPECT_EQ(listed.ebx, 0x1c0003fu);
  EXPECT_EQ(listed.ecx, 0x3fu);
  EXPECT_EQ(listed.edx, 0u);

  // Another subleaf of a listed leaf, an unlisted leaf, an extended leaf.
  const std::pair<uint32_t, uint32_t> unlisted[] = {
      {4, 0}, {4, 2}, {1, 0}, {0, 1}, {0x80000000u, 0}};
  for (const auto& q : unlisted) {
    SCOPED_TRACE(::testing::Message() << std::hex << "leaf " << q.first << " subleaf " << q.second);
    const CpuidResult r = cpuid_query(q.first, q.second);
    EXPECT_EQ(r.eax, 0u);
    EXPECT_EQ(r.ebx, 0u);
    EXPECT_EQ(r.ecx, 0u);
    EXPECT_EQ(r.edx, 0u);
  }
  EXPECT_EQ(g_fake_cpu.queries.size(), 6u);
}

std::string temp_path(const char* name) { return ::testing::TempDir() + name; }

TEST_F(ReplayTest, FileErrorsNameTheFile) {
  // A file that does not exist.
  const std::string missing = temp_path("velquorn-no-such-file.cpuid");
  std::remove(missing.c_str());
  Table table;
  std::string error;
  EXPECT_FALSE(load_replay_file(missing, &table, &error));
  EXPECT_NE(error.find(missing), std::string::npos) << "message: " << error;

  // A file whose second line is short: path and line number.
  const std::string bad = temp_path("velquorn-replay-short-line.cpuid");
  {
    std::ofstream out(bad, std::ios::binary);
    out << "00000000 00000000 00000001 68747541 444d4163 69746e65\n"
           "00000001 00000000 00000f4a 00000800 00000000\n";
  }
  error.clear();
  EXPECT_FALSE(load_replay_file(bad, &table, &error));
  EXPECT_EQ(error.rfind(bad + ":2:", 0), 0u) << "message: " << error;
  std::remove(bad.c_str());
}

TEST_F(ReplayTest, LoadsAFile) {
  const std::string good = temp_path("velquorn-replay-good.cpuid");
  {
    std::ofstream out(good, std::ios::binary);
    out << "# two answers\n"
           "00000000 00000000 00000001 68747541 444d4163 69746e65\r\n"
           "80000000 00000000 80000018 68747541 444d4163 69746e65\n";
  }
  Table table;
  std::string error;
  ASSERT_TRUE(load_replay_file(good, &table, &error)) << error;
  std::remove(good.c_str());
  ASSERT_EQ(table.size(), 2u);
  EXPECT_EQ((table[{0, 0}].ebx), 0x68747541u);
  EXPECT_EQ((table[{0x80000000u, 0}].eax), 0x80000018u);
}

}  // namespace
