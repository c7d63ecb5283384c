// velquorn-cpuinfo: the command line, and the whole program as one function
// over its output streams, so that tests can run it in-process.
#ifndef VELQUORN_TOOLS_CPUINFO_CLI_H
#define VELQUORN_TOOLS_CPUINFO_CLI_H

#include <stdio.h>

#include <string>
#include <vector>

// Exit statuses.
constexpr int kExitOk = 0;
constexpr int kExitFalse = 1;  // a feature is absent; the output cannot be written
constexpr int kExitBad = 2;    // bad command line, feature name, processor or replay file

enum class Command { kReport, kPretty, kHas, kFeatures, kRecord, kVersion, kHelp };

struct Options {
  Command command = Command::kReport;
  std::vector<std::string> has;  // the names of --has, in order
  std::string record_file;       // empty: standard output
  bool replay = false;
  std::string replay_file;
  bool pin = false;
  unsigned cpu = 0;
  bool all_cpus = false;  // every logical processor, grouped by report
};

// Reads the command line (argv[0] is the program). False with a one-line
// *error when it is not one that the usage text allows.
bool parse_options(int argc, const char* const* argv, Options* options, std::string* error);

// The names that --has accepts and --features lists: the library's feature
// names in report order, then "x64".
std::vector<std::string> accepted_feature_names();

// Runs the tool; returns its exit status.
int run_cli(int argc, const char* const* argv, FILE* out, FILE* err);

#endif  // VELQUORN_TOOLS_CPUINFO_CLI_H
