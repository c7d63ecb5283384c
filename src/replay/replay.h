// Replay files: recorded CPUID answers in text form, one answer a line,
// "LEAF SUBLEAF EAX EBX ECX EDX" in hexadecimal (an optional 0x prefix), '#'
// comments to the end of the line and blank lines. A pair listed twice is an
// error, never silently dropped.
#ifndef VELQUORN_REPLAY_REPLAY_H
#define VELQUORN_REPLAY_REPLAY_H

#include <stdint.h>

#include <map>
#include <string>
#include <utility>

#include "platform/processor.h"

// The answers of one recorded processor, by (leaf, subleaf).
using ReplayTable = std::map<std::pair<uint32_t, uint32_t>, CpuidResult>;

// Parses the text of a replay file called `name`. On success replaces *table
// and returns true; on error leaves *table as it was, returns false and sets
// *error to "<name>:<line>: <reason>".
bool parse_replay(const std::string& text, const std::string& name, ReplayTable* table,
                  std::string* error);

// Reads and parses the file at `path`; errors name the file ("<path>: <reason>"
// when it cannot be read, "<path>:<line>: <reason>" when a line is bad).
bool load_replay_file(const std::string& path, ReplayTable* table, std::string* error);

#endif  // VELQUORN_REPLAY_REPLAY_H
