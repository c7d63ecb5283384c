#include "cli.h"

#include <errno.h>
#include <string.h>

#include <algorithm>
#include <map>

#include "groups.h"
#include "host.h"
#include "platform/processor_replay.h"
#include "pretty.h"
#include "probe/cpuid.h"
#include "probe/identity.h"
#include "record.h"
#include "replay/replay.h"
#include "velquorn/cpuinfo.h"

namespace {

constexpr const char kUsage[] =
    "usage: velquorn-cpuinfo [--replay FILE] [--cpu N | --all-cpus]\n"
    "                        [--pretty | --has NAME... | --features]\n"
    "       velquorn-cpuinfo [--cpu N | --all-cpus] --record [FILE]\n"
    "       velquorn-cpuinfo --version | --help\n"
    "\n"
    "Describes the processor it runs on; with no command, prints the report\n"
    "(one line of JSON, exactly as the library gives it).\n"
    "\n"
    "  --pretty         the same facts as aligned \"name: value\" lines\n"
    "  --has NAME       exit status 0 when every named feature is present, 1 when\n"
    "                   one is absent, 2 when a name is unknown; repeatable\n"
    "  --features       every accepted feature name with 1 (present) or 0\n"
    "  --record [FILE]  this processor's CPUID answers in the replay format, to\n"
    "                   FILE or standard output\n"
    "  --replay FILE    answer CPUID from a replay file; the rest from this machine\n"
    "  --cpu N          run on logical processor N; with --replay, the file's\n"
    "                   processor N\n"
    "  --all-cpus       every logical processor that the process may use (or that\n"
    "                   the file holds): the report as a JSON array of groups of\n"
    "                   processors with equal reports, --pretty as one table,\n"
    "                   --has true only when every processor has the features,\n"
    "                   --features per group where they differ, --record every\n"
    "                   processor in one file\n"
    "  --version        the version\n"
    "  --help           this text\n"
    "\n"
    "Exit status: 0 done; 1 a feature is absent or the output cannot be written;\n"
    "2 a bad command line, feature name, processor number or replay file.\n";

constexpr int kDefaultColumns = 80;

bool is_command(const std::string& arg, Command* command) {
  static const struct {
    const char* name;
    Command command;
  } kCommands[] = {{"--pretty", Command::kPretty},     {"--has", Command::kHas},
                   {"--features", Command::kFeatures}, {"--record", Command::kRecord},
                   {"--version", Command::kVersion},   {"--help", Command::kHelp}};
  for (const auto& c : kCommands) {
    if (arg == c.name) {
      *command = c.command;
      return true;
    }
  }
  return false;
}

// A processor number: decimal digits only, below 2^31.
bool parse_cpu(const std::string& text, unsigned* cpu) {
  if (text.empty() || text.size() > 9) return false;
  unsigned v = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + static_cast<unsigned>(c - '0');
  }
  *cpu = v;
  return true;
}

bool write_all(const std::string& text, FILE* out) {
  return fwrite(text.data(), 1, text.size(), out) == text.size() && fflush(out) == 0;
}

std::string features_text() {
  std::string text;
  for (const std::string& name : accepted_feature_names())
    text += name + (cpuinfo_has_feature(name.c_str()) == 1 ? " 1\n" : " 0\n");
  return text;
}

RecordHeader recording_header() {
  RecordHeader header;
  header.tool_version = cpuinfo_version();
  header.date_utc = host_utc_date();
  header.os = host_os_text();
  header.logical_processors = cpuinfo_logical_cores();
  header.brand = read_identity().brand;
  return header;
}

// Held on `pinned_cpu` when it is not negative.
std::string recording_text(int pinned_cpu) {
  RecordHeader header = recording_header();
  header.pinned = pinned_cpu >= 0;
  header.processor = header.pinned ? pinned_cpu : host_current_processor();
  return format_recording(header, record_cpuid());
}

// Writes a recording to `path`. A new or regular file gets the whole text or
// keeps what it held: the text goes to a file beside it, which takes its
// place only once it is written and closed. Anything else (a device, a pipe,
// a link) is written directly, as the path may name something that the tool
// did not create.
bool write_file(const std::string& path, const std::string& text, FILE* err) {
  std::string temp;
  FILE* file = host_open_replacement(path, &temp);
  bool written = file != nullptr;
  int error = errno;
  if (file != nullptr) {
    written = fwrite(text.data(), 1, text.size(), file) == text.size();
    error = errno;
    if (fclose(file) != 0 && written) {
      written = false;
      error = errno;
    }
    if (written && !temp.empty() && !host_replace_file(temp, path)) {
      written = false;
      error = errno;
    }
  }
  if (written) return true;
  if (!temp.empty()) remove(temp.c_str());
  fprintf(err, "velquorn-cpuinfo: cannot write %s: %s\n", path.c_str(), strerror(error));
  return false;
}

// --all-cpus: the command over every logical processor. Returns -1 with the
// output in *text, or the exit status when the command ends without output.
int all_cpus(const Options& o, const ReplayRecord& record, FILE* out, FILE* err,
             std::string* text) {
  std::vector<unsigned> cpus;
  std::map<unsigned, const ReplayTable*> tables;
  if (o.replay) {
    // A file without "cpu" lines holds one processor, shown as processor 0.
    for (const ReplayProcessor& p : record) {
      const unsigned cpu = p.cpu < 0 ? 0 : static_cast<unsigned>(p.cpu);
      cpus.push_back(cpu);
      tables[cpu] = &p.table;
    }
    std::sort(cpus.begin(), cpus.end());
  } else {
    cpus = host_usable_processors();
  }
  if (cpus.empty()) {
    fprintf(err, "velquorn-cpuinfo: --all-cpus: cannot read the processors this process may use\n");
    return kExitBad;
  }
  const SelectProcessor select = [&](unsigned cpu, std::string* error) {
    if (!o.replay) return host_pin_thread(cpu, error);
    processor_answer_from(*tables[cpu]);
    return true;
  };
  std::string problem;
  const auto failed = [&]() {
    fprintf(err, "velquorn-cpuinfo: --all-cpus: %s\n", problem.c_str());
    return kExitBad;
  };
  if (o.command == Command::kHas) {
    // A program that may run on any core needs the feature on all of them.
    for (const unsigned cpu : cpus) {
      if (!select(cpu, &problem)) return failed();
      for (const std::string& name : o.has) {
        if (cpuinfo_has_feature(name.c_str()) != 1) return kExitFalse;
      }
    }
    return kExitOk;
  }
  if (o.command == Command::kRecord) {
    std::vector<ProcessorRecording> recordings;
    for (const unsigned cpu : cpus) {
      if (!select(cpu, &problem)) return failed();
      recordings.push_back(ProcessorRecording{cpu, record_cpuid()});
    }
    *text = format_recordings(recording_header(), recordings);
    if (o.record_file.empty()) return -1;
    return write_file(o.record_file, *text, err) ? kExitOk : kExitFalse;
  }
  std::vector<ProcessorGroup> groups;
  if (!group_processors(cpus, select, o.command != Command::kFeatures, err, &groups, &problem))
    return failed();
  if (o.command == Command::kFeatures) {
    const std::vector<std::string> names = accepted_feature_names();
    std::vector<std::vector<int>> answers;
    for (const ProcessorGroup& g : groups) {
      if (!select(g.cpus.front(), &problem)) return failed();
      answers.emplace_back();
      for (const std::string& name : names)
        answers.back().push_back(cpuinfo_has_feature(name.c_str()));
    }
    *text = format_groups_features(groups, names, answers);
  } else if (o.command == Command::kPretty) {
    std::vector<std::string> ranges;
    std::vector<ReportValues> values;
    for (const ProcessorGroup& g : groups) {
      ranges.push_back(cpu_ranges(g.cpus, ", "));
      values.emplace_back();
      if (!parse_report(g.report, &values.back())) {
        fprintf(err, "velquorn-cpuinfo: the report cannot be read\n");
        return kExitFalse;
      }
    }
    const int columns = host_terminal_columns(out);
    *text = format_pretty_groups(ranges, values, columns > 0 ? columns : kDefaultColumns);
  } else {
    *text = format_groups_json(groups);
  }
  return -1;
}

}  // namespace

bool parse_options(int argc, const char* const* argv, Options* options, std::string* error) {
  Options o;
  bool have_command = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool has_next = i + 1 < argc;
    Command command;
    if (arg == "--replay" || arg == "--cpu") {
      const bool repeated = arg == "--replay" ? o.replay : o.pin;
      if (repeated) {
        *error = arg + " is given twice";
        return false;
      }
      if (!has_next) {
        *error = arg + " needs a value";
        return false;
      }
      const std::string value = argv[++i];
      if (arg == "--replay") {
        o.replay = true;
        o.replay_file = value;
      } else if (!parse_cpu(value, &o.cpu)) {
        *error = "--cpu needs a logical processor number, not '" + value + "'";
        return false;
      } else {
        o.pin = true;
      }
    } else if (arg == "--all-cpus") {
      if (o.all_cpus) {
        *error = "--all-cpus is given twice";
        return false;
      }
      o.all_cpus = true;
    } else if (is_command(arg, &command)) {
      if (have_command && !(command == Command::kHas && o.command == Command::kHas)) {
        *error = arg + " cannot be combined with another command";
        return false;
      }
      have_command = true;
      o.command = command;
      if (command == Command::kHas) {
        if (!has_next) {
          *error = "--has needs a feature name";
          return false;
        }
        o.has.push_back(argv[++i]);
      } else if (command == Command::kRecord && has_next &&
                 (argv[i + 1][0] != '-' || strcmp(argv[i + 1], "-") == 0)) {
        o.record_file = strcmp(argv[++i], "-") == 0 ? "" : argv[i];
      }
    } else {
      *error = "unknown argument '" + arg + "'";
      return false;
    }
  }
  const bool standalone = o.command == Command::kVersion || o.command == Command::kHelp;
  if (standalone && (o.replay || o.pin || o.all_cpus)) {
    *error = "--version and --help stand alone";
    return false;
  }
  if (o.pin && o.all_cpus) {
    *error = "--cpu picks one processor; it cannot be combined with --all-cpus";
    return false;
  }
  if (o.command == Command::kRecord && o.replay) {
    *error = "--record records this processor; it cannot be combined with --replay";
    return false;
  }
  *options = o;
  return true;
}

std::vector<std::string> accepted_feature_names() {
  std::vector<std::string> names;
  for (const FeatureEntry& f : FEATS) names.push_back(f.name);
  names.push_back("x64");
  return names;
}

int run_cli(int argc, const char* const* argv, FILE* out, FILE* err) {
  Options o;
  std::string problem;
  if (!parse_options(argc, argv, &o, &problem)) {
    // As GNU tools answer a bad command line: the error, then where the usage is.
    fprintf(err, "velquorn-cpuinfo: %s\nTry 'velquorn-cpuinfo --help' for more information.\n",
            problem.c_str());
    return kExitBad;
  }
  if (o.command == Command::kHelp) return write_all(kUsage, out) ? kExitOk : kExitFalse;
  if (o.command == Command::kVersion)
    return write_all(std::string("velquorn-cpuinfo ") + cpuinfo_version() + "\n", out) ? kExitOk
                                                                                       : kExitFalse;

  const std::vector<std::string> accepted = accepted_feature_names();
  for (const std::string& name : o.has) {
    bool known = false;
    for (const std::string& a : accepted) known = known || a == name;
    if (known) continue;
    std::string list;
    for (const std::string& a : accepted) list += " " + a;
    fprintf(err, "velquorn-cpuinfo: unknown feature name '%s'; the accepted names are:%s\n",
            name.c_str(), list.c_str());
    return kExitBad;
  }
  ReplayRecord record;
  bool recorded_cpu = false;  // --cpu N picked the file's processor N
  if (o.replay) {
    if (!load_replay_record(o.replay_file, &record, &problem)) {
      fprintf(err, "velquorn-cpuinfo: %s\n", problem.c_str());
      return kExitBad;
    }
    const ReplayProcessor* chosen = &record.front();
    // In a file of numbered processors, --cpu N is the file's processor N;
    // a file of one processor answers on whichever processor --cpu names.
    if (o.pin && record.front().cpu >= 0) {
      recorded_cpu = true;
      chosen = nullptr;
      for (const ReplayProcessor& p : record) {
        if (p.cpu == static_cast<int>(o.cpu)) chosen = &p;
      }
      if (chosen == nullptr) {
        fprintf(err, "velquorn-cpuinfo: --cpu %u: %s holds no logical processor %u\n", o.cpu,
                o.replay_file.c_str(), o.cpu);
        return kExitBad;
      }
    }
    processor_answer_from(chosen->table);
  }
  if (o.all_cpus) {
    std::string text;
    const int status = all_cpus(o, record, out, err, &text);
    if (status >= 0) return status;
    if (!write_all(text, out)) {
      fprintf(err, "velquorn-cpuinfo: cannot write the output\n");
      return kExitFalse;
    }
    return kExitOk;
  }
  int pinned_cpu = -1;
  if (o.pin && !recorded_cpu) {
    if (!host_pin_thread(o.cpu, &problem)) {
      fprintf(err, "velquorn-cpuinfo: --cpu %u: %s\n", o.cpu, problem.c_str());
      return kExitBad;
    }
    pinned_cpu = static_cast<int>(o.cpu);
  } else if (o.command == Command::kRecord) {
    // A recording comes from one processor: stay where the thread is.
    const int now = host_current_processor();
    if (now >= 0 && host_pin_thread(static_cast<unsigned>(now), &problem)) pinned_cpu = now;
  }

  std::string text;
  switch (o.command) {
    case Command::kHas:
      for (const std::string& name : o.has) {
        if (cpuinfo_has_feature(name.c_str()) != 1) return kExitFalse;
      }
      return kExitOk;
    case Command::kFeatures:
      text = features_text();
      break;
    case Command::kRecord:
      text = recording_text(pinned_cpu);
      if (!o.record_file.empty())
        return write_file(o.record_file, text, err) ? kExitOk : kExitFalse;
      break;
    case Command::kPretty: {
      ReportValues values;
      if (!parse_report(cpuinfo_get_json(), &values)) {
        fprintf(err, "velquorn-cpuinfo: the report cannot be read\n");
        return kExitFalse;
      }
      const int columns = host_terminal_columns(out);
      text = format_pretty(values, columns > 0 ? columns : kDefaultColumns);
      break;
    }
    default:
      text = std::string(cpuinfo_get_json()) + "\n";
      break;
  }
  if (!write_all(text, out)) {
    fprintf(err, "velquorn-cpuinfo: cannot write the output\n");
    return kExitFalse;
  }
  return kExitOk;
}
