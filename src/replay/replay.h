// Replay files: recorded CPUID answers in text form, one answer a line,
// "LEAF SUBLEAF EAX EBX ECX EDX" in hexadecimal (an optional 0x prefix), '#'
// comments to the end of the line and blank lines. A pair listed twice is an
// error, never silently dropped. A record of several logical processors
// starts each processor's lines with a line "cpu N" (N in decimal); a file
// without such lines holds one processor.
#ifndef VELQUORN_REPLAY_REPLAY_H
#define VELQUORN_REPLAY_REPLAY_H

#include <stdint.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "platform/processor.h"

// The answers of one recorded processor, by (leaf, subleaf).
using ReplayTable = std::map<std::pair<uint32_t, uint32_t>, CpuidResult>;

// One recorded logical processor.
struct ReplayProcessor {
  int cpu;  // the number of its "cpu N" line; -1 in a file without such lines
  ReplayTable table;
};

// Every processor of a replay file, in the file's order; never empty.
using ReplayRecord = std::vector<ReplayProcessor>;

// Parses the text of a replay file called `name`. On success replaces *record
// and returns true; on error leaves *record as it was, returns false and sets
// *error to "<name>:<line>: <reason>". Besides a bad answer line, errors are a
// "cpu" line without one decimal number below 2^31, a processor listed twice,
// a "cpu" line with no answer before the next one or the end, and answers
// before the first "cpu" line of a file that has them.
bool parse_replay_record(const std::string& text, const std::string& name, ReplayRecord* record,
                         std::string* error);

// parse_replay_record, keeping the file's first processor in *table.
bool parse_replay(const std::string& text, const std::string& name, ReplayTable* table,
                  std::string* error);

// Reads and parses the file at `path`; errors name the file ("<path>: <reason>"
// when it cannot be read, "<path>:<line>: <reason>" when a line is bad).
bool load_replay_record(const std::string& path, ReplayRecord* record, std::string* error);

// load_replay_record, keeping the file's first processor in *table.
bool load_replay_file(const std::string& path, ReplayTable* table, std::string* error);

#endif  // VELQUORN_REPLAY_REPLAY_H
