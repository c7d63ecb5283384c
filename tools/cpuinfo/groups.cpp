#include "groups.h"

#include "clock_gate.h"
#include "host.h"
#include "velquorn/cpuinfo.h"

namespace {

constexpr double kQuietSeconds = 1.0;

// A line on standard error, rewritten in place, for runs past a second on a
// terminal; erased when the run ends.
class Progress {
 public:
  explicit Progress(FILE* err)
      : err_(err != nullptr && host_is_terminal(err) ? err : nullptr), start_(host_seconds()) {}
  ~Progress() {
    if (width_ > 0) fprintf(err_, "\r%*s\r", static_cast<int>(width_), "");
  }
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  void show(const std::string& text) {
    if (err_ == nullptr || host_seconds() - start_ < kQuietSeconds) return;
    const std::string line = "velquorn-cpuinfo: " + text;
    fprintf(err_, "\r%s%*s", line.c_str(),
            static_cast<int>(width_ > line.size() ? width_ - line.size() : 0), "");
    fflush(err_);
    width_ = width_ > line.size() ? width_ : line.size();
  }

 private:
  FILE* err_;
  double start_;
  size_t width_ = 0;
};

}  // namespace

std::string report_without_clock(const std::string& report) {
  static constexpr char kMember[] = ",\"current_mhz\":";
  const size_t at = report.find(kMember);
  if (at == std::string::npos) return report;
  const size_t value = at + sizeof kMember - 1;
  const size_t end = report.find(',', value);
  return report.substr(0, value) + (end == std::string::npos ? "" : report.substr(end));
}

bool group_processors(const std::vector<unsigned>& cpus, const SelectProcessor& select,
                      bool measure, FILE* progress, std::vector<ProcessorGroup>* groups,
                      std::string* error) {
  Progress shown(progress);
  std::vector<ProcessorGroup> found;
  std::vector<std::string> keys;
  set_clock_measurement(false);
  for (size_t i = 0; i < cpus.size(); ++i) {
    shown.show("logical processor " + std::to_string(i + 1) + " of " + std::to_string(cpus.size()));
    if (!select(cpus[i], error)) {
      set_clock_measurement(true);
      return false;
    }
    const std::string report = cpuinfo_get_json();
    const std::string key = report_without_clock(report);
    size_t g = 0;
    while (g < keys.size() && keys[g] != key) ++g;
    if (g == keys.size()) {
      keys.push_back(key);
      found.push_back(ProcessorGroup{{}, report});
    }
    found[g].cpus.push_back(cpus[i]);
  }
  set_clock_measurement(true);
  for (size_t g = 0; measure && g < found.size(); ++g) {
    shown.show("clock of group " + std::to_string(g + 1) + " of " + std::to_string(found.size()));
    if (!select(found[g].cpus.front(), error)) return false;
    found[g].report = cpuinfo_get_json();
  }
  *groups = std::move(found);
  return true;
}

std::string cpu_ranges(const std::vector<unsigned>& cpus, const char* separator) {
  std::string text;
  for (size_t i = 0; i < cpus.size();) {
    size_t j = i;
    while (j + 1 < cpus.size() && cpus[j + 1] == cpus[j] + 1) ++j;
    if (i > 0) text += separator;
    text += std::to_string(cpus[i]);
    if (j > i) text += "-" + std::to_string(cpus[j]);
    i = j + 1;
  }
  return text;
}

std::string format_groups_json(const std::vector<ProcessorGroup>& groups) {
  std::string text = "[";
  for (const ProcessorGroup& g : groups) {
    text += text.size() > 1 ? ",{\"cpus\":[" : "{\"cpus\":[";
    for (size_t i = 0; i < g.cpus.size(); ++i)
      text += (i > 0 ? "," : "") + std::to_string(g.cpus[i]);
    text += "],\"report\":" + g.report + "}";
  }
  return text + "]\n";
}

std::string format_groups_features(const std::vector<ProcessorGroup>& groups,
                                   const std::vector<std::string>& names,
                                   const std::vector<std::vector<int>>& answers) {
  std::string text;
  for (size_t i = 0; i < names.size(); ++i) {
    bool same = true;
    for (const std::vector<int>& a : answers) same = same && a[i] == answers.front()[i];
    text += names[i];
    for (size_t g = 0; g < groups.size(); ++g) {
      if (same && g > 0) break;
      text += same ? " " : " " + cpu_ranges(groups[g].cpus, ",") + ":";
      text += answers[g][i] == 1 ? "1" : "0";
    }
    text += '\n';
  }
  return text;
}
