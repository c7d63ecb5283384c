// Any bytes as the text of a replay file. A rejected text leaves the table as
// it was and names the file first in its message. An accepted one holds at
// most one pair per line, answers every pair with its registers once loaded
// into the fake processor, and reads back the same from a canonical rewrite.
// Recorded again from the fake processor (whatever highest leaves and
// subleaf counts the text declares), it gives a bounded recording, each pair
// once, that loads back with the processor's answers, under a header whose
// brand is the text's first bytes.
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <map>
#include <string>
#include <utility>

#include "fake_processor.h"
#include "record.h"

namespace {

using Table = std::map<std::pair<uint32_t, uint32_t>, CpuidResult>;

constexpr const char kName[] = "fuzz.cpuid";

bool same(const CpuidResult& a, const CpuidResult& b) {
  return a.eax == b.eax && a.ebx == b.ebx && a.ecx == b.ecx && a.edx == b.edx;
}

bool same(const Table& a, const Table& b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](const auto& x, const auto& y) {
           return x.first == y.first && same(x.second, y.second);
         });
}

[[noreturn]] void fail(const std::string& why) {
  fprintf(stderr, "replay: %s\n", why.c_str());
  abort();
}

// Every pair on a line of its own, in the spellings that the format allows:
// with and without 0x, upper and lower case, leading zeros, a comment.
std::string rewrite(const Table& table) {
  std::string text = "# rewritten\n\n";
  char line[96];
  for (const auto& [key, r] : table) {
    snprintf(line, sizeof line, "0x%x %X\t%08x 0X%X %x %x # pair\n", key.first, key.second, r.eax,
             r.ebx, r.ecx, r.edx);
    text += line;
  }
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const Table before = {{{0xDEADu, 0xBEEFu}, CpuidResult{1, 2, 3, 4}}};
  Table table = before;
  std::string error;
  if (!parse_replay(text, kName, &table, &error)) {
    if (error.rfind(std::string(kName) + ":", 0) != 0)
      fail("message without the file name: " + error);
    if (!same(table, before)) fail("a rejected text changed the table");
    return 0;
  }

  const size_t lines = static_cast<size_t>(std::count(text.begin(), text.end(), '\n')) + 1;
  if (table.size() > lines) fail("more pairs than lines");
  fake_processor_reset();
  for (const auto& [key, r] : table)
    fake_cpuid_set(key.first, key.second, r.eax, r.ebx, r.ecx, r.edx);
  for (const auto& [key, r] : table) {
    if (!same(cpuid_query(key.first, key.second), r)) fail("a pair does not answer its registers");
  }

  Table again;
  if (!parse_replay(rewrite(table), kName, &again, &error)) fail("rewrite rejected: " + error);
  if (!same(again, table)) fail("the rewrite reads back differently");

  const RecordLimits limits;
  const Recording rec = record_cpuid(limits);
  if (rec.truncated || rec.answers.size() > limits.answers) fail("the recording is not bounded");
  RecordHeader header{"1.0.0", "2026-12-09T00:00:00Z", "fuzz", 1, text.substr(0, 48), 0, true};
  Table recorded;
  if (!parse_replay(format_recording(header, rec), kName, &recorded, &error))
    fail("the recording does not load: " + error);
  if (recorded.size() != rec.answers.size()) fail("the recording lists a pair twice or drops one");
  for (const RecordedAnswer& a : rec.answers) {
    const auto it = table.find({a.leaf, a.subleaf});
    const CpuidResult want = it == table.end() ? CpuidResult{0, 0, 0, 0} : it->second;
    if (!same(recorded.at({a.leaf, a.subleaf}), want) || !same(a.regs, want))
      fail("a recorded answer is not the processor's");
  }
  return 0;
}
