// The readable view: the report's facts as aligned "name: value" lines for a
// person, made from the report text alone so that it shows exactly what the
// report says.
#ifndef VELQUORN_TOOLS_CPUINFO_PRETTY_H
#define VELQUORN_TOOLS_CPUINFO_PRETTY_H

#include <string>
#include <vector>

// The 17 members of a report, strings decoded to their bytes.
struct ReportValues {
  std::string vendor;
  std::string brand;
  int family, model, stepping;
  int physical_cores, logical_cores;
  int l1d_kb, l1i_kb, l2_kb, l3_kb;
  int base_mhz, max_mhz, current_mhz;
  std::vector<std::string> features;
  int hypervisor, x64;
};

// Reads a report document (the 17 members in their order, as the library
// writes them); false when the text is not one.
bool parse_report(const std::string& json, ReportValues* values);

// The readable view, one "name: value" line per fact with the values in one
// column, the feature names wrapped to `width` columns (at least one name a
// line). Vendor and brand are shown with printable_text (text.h), so no
// control byte reaches a terminal. Sizes of 1024 KiB and more that are whole
// MiB are given in MiB; a size or clock of 0 is "unknown", a failed clock
// measurement "not measured".
std::string format_pretty(const ReportValues& values, int width);

// The readable view of several groups of processors (cpus[g] names group
// g's processors, "0-15, 32"): the lines of format_pretty that every group
// shares, once (the features row lists the names that every group has), a
// blank line, then a table with a row per group: its processors and the
// values that differ, with a column "more features" for the names that not
// every group has. Never called with no group.
std::string format_pretty_groups(const std::vector<std::string>& cpus,
                                 const std::vector<ReportValues>& groups, int width);

#endif  // VELQUORN_TOOLS_CPUINFO_PRETTY_H
