#include "cli.h"

#include <errno.h>
#include <string.h>

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
    "usage: velquorn-cpuinfo [--replay FILE] [--cpu N] [--pretty | --has NAME... | --features]\n"
    "       velquorn-cpuinfo [--cpu N] --record [FILE]\n"
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
    "  --cpu N          run on logical processor N\n"
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

// Held on `pinned_cpu` when it is not negative.
std::string recording_text(int pinned_cpu) {
  RecordHeader header;
  header.tool_version = cpuinfo_version();
  header.date_utc = host_utc_date();
  header.os = host_os_text();
  header.logical_processors = cpuinfo_logical_cores();
  header.brand = read_identity().brand;
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
  if (standalone && (o.replay || o.pin)) {
    *error = "--version and --help stand alone";
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
    fprintf(err, "velquorn-cpuinfo: %s\n%s", problem.c_str(), kUsage);
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
  if (o.replay) {
    ReplayTable table;
    if (!load_replay_file(o.replay_file, &table, &problem)) {
      fprintf(err, "velquorn-cpuinfo: %s\n", problem.c_str());
      return kExitBad;
    }
    processor_answer_from(table);
  }
  int pinned_cpu = -1;
  if (o.pin) {
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
