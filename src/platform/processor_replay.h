// The processor seam of the command-line tools: CPUID answers come from the
// processor itself until a replay table is given, and from that table after.
// processor_replay.cpp implements it over the real instruction; the test fake
// implements it over its own table.
#ifndef VELQUORN_PLATFORM_PROCESSOR_REPLAY_H
#define VELQUORN_PLATFORM_PROCESSOR_REPLAY_H

#include "replay/replay.h"

// From now on cpuid_query answers from a copy of `table`: a listed pair with
// its registers, any other pair with four zeros.
void processor_answer_from(const ReplayTable& table);

#endif  // VELQUORN_PLATFORM_PROCESSOR_REPLAY_H
