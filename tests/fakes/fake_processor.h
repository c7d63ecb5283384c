// A processor that answers CPUID from a table that the test fills. An unset
// leaf/subleaf pair answers four zeros. Every query is logged.
#ifndef VELQUORN_TESTS_FAKE_PROCESSOR_H
#define VELQUORN_TESTS_FAKE_PROCESSOR_H

#include <stdint.h>

#include <string>
#include <utility>
#include <vector>

#include "platform/processor.h"
#include "platform/processor_replay.h"
#include "replay/replay.h"

struct FakeProcessor {
  ReplayTable leaves;
  std::vector<std::pair<uint32_t, uint32_t>> queries;  // (leaf, subleaf), in order
};

extern FakeProcessor g_fake_cpu;

void fake_processor_reset();
void fake_cpuid_set(uint32_t leaf, uint32_t subleaf, uint32_t eax, uint32_t ebx, uint32_t ecx,
                    uint32_t edx);
// Number of queries of one leaf (any subleaf).
int fake_cpuid_count(uint32_t leaf);

// Sets leaf 0 to a highest basic leaf and a vendor of up to 12 characters.
void fake_cpuid_set_vendor(uint32_t max_basic, const char* vendor12);
// Sets leaves 0x80000002..4 to the 48 bytes of `brand48` (padded with NULs).
void fake_cpuid_set_brand(const std::string& brand48);

// processor_answer_from (the replay switch of the tools) replaces the table:
// from then on the fake answers the replayed processor.

// The folder of recorded processors as this program can open it, or "" when
// it is absent. Under Wine a path that begins with '/' is taken on the
// current drive, so the Unix root's drive Z: is tried too.
std::string recorded_processors_dir(const std::string& dir);

#endif  // VELQUORN_TESTS_FAKE_PROCESSOR_H
