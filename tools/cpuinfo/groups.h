// --all-cpus: the report of every logical processor, with the processors
// whose reports are equal apart from current_mhz gathered in one group, so
// that a machine with several kinds of core shows each kind once.
#ifndef VELQUORN_TOOLS_CPUINFO_GROUPS_H
#define VELQUORN_TOOLS_CPUINFO_GROUPS_H

#include <stdio.h>

#include <functional>
#include <string>
#include <vector>

struct ProcessorGroup {
  std::vector<unsigned> cpus;  // ascending
  std::string report;          // the library's report, taken on cpus.front()
};

// Makes logical processor `cpu` the one that answers (holds the thread on it,
// or replays its record); false with *error when it cannot.
using SelectProcessor = std::function<bool(unsigned cpu, std::string* error)>;

// Groups `cpus` (ascending) by their reports, each taken without the clock
// measurement (clock_gate.h), so that N processors cost N reports of a few
// hundred microseconds. With `measure`, each group's report is then taken
// again on its first processor with the measurement: what the library gives
// there. Groups come in the order of their first processor. On a terminal
// `progress` (may be null) shows a line while the run is past a second.
// False with *error when a processor cannot be selected.
bool group_processors(const std::vector<unsigned>& cpus, const SelectProcessor& select,
                      bool measure, FILE* progress, std::vector<ProcessorGroup>* groups,
                      std::string* error);

// The report without the value of current_mhz: equal for two processors
// whose reports differ in the measurement alone.
std::string report_without_clock(const std::string& report);

// "0-15, 32" with separator ", ": the numbers (ascending) with each run of
// consecutive numbers as FIRST-LAST.
std::string cpu_ranges(const std::vector<unsigned>& cpus, const char* separator);

// [{"cpus":[0,1,...],"report":{...}}, ...] and a newline.
std::string format_groups_json(const std::vector<ProcessorGroup>& groups);

// A line per accepted name: "NAME V" when every group answers V, else
// "NAME" and one "RANGES:V" per group ("avx2 0-7:1 8-15:0"). answers[g][i]
// is group g's answer for names[i].
std::string format_groups_features(const std::vector<ProcessorGroup>& groups,
                                   const std::vector<std::string>& names,
                                   const std::vector<std::vector<int>>& answers);

#endif  // VELQUORN_TOOLS_CPUINFO_GROUPS_H
