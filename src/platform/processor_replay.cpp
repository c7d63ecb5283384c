// The processor seam of the command-line tools: the module's CPUID
// (cpuid_x86.h) until a replay table is given, the table's answers after.
#include "platform/processor_replay.h"

#include "platform/cpuid_x86.h"
#include "platform/processor.h"

namespace {

// Null while the processor itself answers. Set once by a tool before its
// first question; no lock, as the tools ask from one thread.
const ReplayTable* g_replay = nullptr;

}  // namespace

void processor_answer_from(const ReplayTable& table) {
  const ReplayTable* old = g_replay;
  g_replay = new ReplayTable(table);
  delete old;
}

extern "C" CpuidResult cpuid_query(uint32_t leaf, uint32_t subleaf) {
  if (g_replay == nullptr) return cpuid_execute(leaf, subleaf);
  const auto it = g_replay->find({leaf, subleaf});
  return it == g_replay->end() ? CpuidResult{0, 0, 0, 0} : it->second;
}
