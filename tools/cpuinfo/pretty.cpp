#include "pretty.h"

#include <limits.h>
#include <stdio.h>
#include <string.h>

#include "text.h"

namespace {

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads the report document from left to right; every step is all or
// nothing for the caller, who gives up at the first false.
class Reader {
 public:
  explicit Reader(const std::string& text) : s_(text) {}

  bool literal(const char* expected) {
    const size_t n = strlen(expected);
    if (s_.compare(at_, n, expected) != 0) return false;
    at_ += n;
    return true;
  }

  // A string as the library escapes it: \" \\ and \u00xx, one byte each.
  bool string(std::string* out) {
    if (!literal("\"")) return false;
    out->clear();
    while (at_ < s_.size()) {
      const char c = s_[at_++];
      if (c == '"') return true;
      if (static_cast<unsigned char>(c) < 0x20) return false;
      if (c != '\\') {
        *out += c;
        continue;
      }
      if (at_ >= s_.size()) return false;
      switch (s_[at_++]) {
        case '"':
        case '\\':
          *out += s_[at_ - 1];
          break;
        case 'u': {
          int code = 0;
          for (int k = 0; k < 4; ++k) {
            const int d = at_ < s_.size() ? hex_digit(s_[at_++]) : -1;
            if (d < 0) return false;
            code = code * 16 + d;
          }
          if (code > 0xFF) return false;
          *out += static_cast<char>(code);
          break;
        }
        default:
          return false;
      }
    }
    return false;
  }

  // ,"name":<int>
  bool member(const char* name, int* value) {
    return literal(",\"") && literal(name) && literal("\":") && integer(value);
  }

  bool integer(int* value) {
    const bool negative = literal("-");
    long long v = 0;
    size_t digits = 0;
    while (at_ < s_.size() && s_[at_] >= '0' && s_[at_] <= '9' && digits < 11) {
      v = v * 10 + (s_[at_++] - '0');
      ++digits;
    }
    if (negative) v = -v;
    if (digits == 0 || v < INT_MIN || v > INT_MAX) return false;
    *value = static_cast<int>(v);
    return true;
  }

  bool at_end() const { return at_ == s_.size(); }

 private:
  const std::string& s_;
  size_t at_ = 0;
};

std::string decimal_and_hex(int v) {
  char text[32];
  snprintf(text, sizeof text, "%d (0x%x)", v, static_cast<unsigned>(v));
  return text;
}

std::string cache_size(int kb) {
  if (kb <= 0) return "unknown";
  if (kb >= 1024 && kb % 1024 == 0) return std::to_string(kb / 1024) + " MiB";
  return std::to_string(kb) + " KiB";
}

std::string declared_clock(int mhz) { return mhz > 0 ? std::to_string(mhz) + " MHz" : "unknown"; }

// The measurement answers -1 or INT_MIN when it has no rate to give.
std::string measured_clock(int mhz) {
  return mhz >= 0 ? std::to_string(mhz) + " MHz" : "not measured";
}

// The names, one space apart, starting at column `indent` and wrapped so
// that no line passes `width` unless one name alone does.
std::string wrapped(const std::vector<std::string>& words, size_t indent, size_t width) {
  if (words.empty()) return "none";
  std::string out;
  size_t column = indent;
  for (size_t i = 0; i < words.size(); ++i) {
    if (i > 0) {
      if (column + 1 + words[i].size() > width) {
        out += '\n';
        out.append(indent, ' ');
        column = indent;
      } else {
        out += ' ';
        ++column;
      }
    }
    out += words[i];
    column += words[i].size();
  }
  return out;
}

}  // namespace

bool parse_report(const std::string& json, ReportValues* values) {
  ReportValues v;
  Reader r(json);
  if (!(r.literal("{\"vendor\":") && r.string(&v.vendor) && r.literal(",\"brand\":") &&
        r.string(&v.brand) && r.member("family", &v.family) && r.member("model", &v.model) &&
        r.member("stepping", &v.stepping) && r.member("physical_cores", &v.physical_cores) &&
        r.member("logical_cores", &v.logical_cores) && r.member("l1d_kb", &v.l1d_kb) &&
        r.member("l1i_kb", &v.l1i_kb) && r.member("l2_kb", &v.l2_kb) &&
        r.member("l3_kb", &v.l3_kb) && r.member("base_mhz", &v.base_mhz) &&
        r.member("max_mhz", &v.max_mhz) && r.member("current_mhz", &v.current_mhz) &&
        r.literal(",\"features\":[")))
    return false;
  if (!r.literal("]")) {
    do {
      std::string name;
      if (!r.string(&name)) return false;
      v.features.push_back(name);
    } while (r.literal(","));
    if (!r.literal("]")) return false;
  }
  if (!(r.member("hypervisor", &v.hypervisor) && r.member("x64", &v.x64) && r.literal("}") &&
        r.at_end()))
    return false;
  *values = v;
  return true;
}

namespace {

struct Row {
  const char* label;
  std::string value;  // empty for the features, which are wrapped apart
};

constexpr const char kFeaturesLabel[] = "features";

std::vector<Row> pretty_rows(const ReportValues& v) {
  return {
      {"vendor", printable_text(v.vendor)},
      {"brand", printable_text(v.brand)},
      {"family", decimal_and_hex(v.family)},
      {"model", decimal_and_hex(v.model)},
      {"stepping", decimal_and_hex(v.stepping)},
      {"physical cores", std::to_string(v.physical_cores)},
      {"logical cores", std::to_string(v.logical_cores)},
      {"L1d cache", cache_size(v.l1d_kb)},
      {"L1i cache", cache_size(v.l1i_kb)},
      {"L2 cache", cache_size(v.l2_kb)},
      {"L3 cache", cache_size(v.l3_kb)},
      {"base clock", declared_clock(v.base_mhz)},
      {"max clock", declared_clock(v.max_mhz)},
      {"current clock", measured_clock(v.current_mhz)},
      {kFeaturesLabel, ""},
      {"hypervisor", v.hypervisor != 0 ? "yes" : "no"},
      {"64-bit", v.x64 != 0 ? "yes" : "no"},
  };
}

std::vector<std::string> printable(const std::vector<std::string>& names) {
  std::vector<std::string> out;
  for (const std::string& name : names) out.push_back(printable_text(name));
  return out;
}

// "name: value" lines with the values in one column; the features row shows
// `features` wrapped to `width`.
std::string aligned(const std::vector<Row>& rows, const std::vector<std::string>& features,
                    int width) {
  size_t column = 0;
  for (const Row& row : rows)
    column = strlen(row.label) + 2 > column ? strlen(row.label) + 2 : column;
  std::string out;
  for (const Row& row : rows) {
    out += row.label;
    out += ':';
    out.append(column - strlen(row.label) - 1, ' ');
    out += strcmp(row.label, kFeaturesLabel) == 0
               ? wrapped(features, column, width > 0 ? static_cast<size_t>(width) : 0)
               : row.value;
    out += '\n';
  }
  return out;
}

bool contains(const std::vector<std::string>& names, const std::string& name) {
  for (const std::string& n : names) {
    if (n == name) return true;
  }
  return false;
}

}  // namespace

std::string format_pretty(const ReportValues& v, int width) {
  return aligned(pretty_rows(v), printable(v.features), width);
}

std::string format_pretty_groups(const std::vector<std::string>& cpus,
                                 const std::vector<ReportValues>& groups, int width) {
  std::vector<std::vector<Row>> rows;
  for (const ReportValues& v : groups) rows.push_back(pretty_rows(v));
  // The features of every group, in the first group's order.
  std::vector<std::string> common;
  bool features_differ = false;
  for (const std::string& name : groups.front().features) {
    bool everywhere = true;
    for (const ReportValues& v : groups) everywhere = everywhere && contains(v.features, name);
    if (everywhere) common.push_back(name);
  }
  for (const ReportValues& v : groups) features_differ |= v.features.size() != common.size();

  // What every group shows alike, once; the table's columns are the rest.
  std::vector<Row> shared;
  std::vector<std::vector<std::string>> table(groups.size() + 1);
  table[0].push_back("cpus");
  for (size_t g = 0; g < groups.size(); ++g) table[g + 1].push_back(cpus[g]);
  for (size_t r = 0; r < rows.front().size(); ++r) {
    const Row& first = rows.front()[r];
    bool same = true;
    for (const std::vector<Row>& group : rows) same = same && group[r].value == first.value;
    if (same) shared.push_back(first);
    if (same) continue;
    table[0].push_back(first.label);
    for (size_t g = 0; g < groups.size(); ++g) table[g + 1].push_back(rows[g][r].value);
  }
  if (features_differ) {
    table[0].push_back("more features");
    for (size_t g = 0; g < groups.size(); ++g) {
      std::string more;
      for (const std::string& name : groups[g].features) {
        if (!contains(common, name)) more += (more.empty() ? "" : " ") + printable_text(name);
      }
      table[g + 1].push_back(more.empty() ? "none" : more);
    }
  }
  std::string out = aligned(shared, printable(common), width) + '\n';
  std::vector<size_t> widths(table[0].size(), 0);
  for (const std::vector<std::string>& line : table) {
    for (size_t c = 0; c < line.size(); ++c)
      widths[c] = line[c].size() > widths[c] ? line[c].size() : widths[c];
  }
  for (const std::vector<std::string>& line : table) {
    for (size_t c = 0; c < line.size(); ++c) {
      out += line[c];
      if (c + 1 < line.size()) out.append(widths[c] - line[c].size() + 2, ' ');
    }
    out += '\n';
  }
  return out;
}
