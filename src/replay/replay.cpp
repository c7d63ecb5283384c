#include "replay/replay.h"

#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

namespace {

// White space between the words of a line, as in the C locale.
bool is_space(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

// One hexadecimal word of at most 8 digits, with an optional 0x prefix.
bool parse_hex_word(const std::string& word, uint32_t* value) {
  size_t start = 0;
  if (word.size() > 2 && word[0] == '0' && (word[1] == 'x' || word[1] == 'X')) start = 2;
  const size_t digits = word.size() - start;
  if (digits == 0 || digits > 8) return false;
  uint32_t v = 0;
  for (size_t i = start; i < word.size(); ++i) {
    const char c = word[i];
    uint32_t d;
    if (c >= '0' && c <= '9') {
      d = static_cast<uint32_t>(c - '0');
    } else if (c >= 'a' && c <= 'f') {
      d = static_cast<uint32_t>(c - 'a' + 10);
    } else if (c >= 'A' && c <= 'F') {
      d = static_cast<uint32_t>(c - 'A' + 10);
    } else {
      return false;
    }
    v = (v << 4) | d;
  }
  *value = v;
  return true;
}

// A logical processor number: decimal digits only, below 2^31.
bool parse_cpu_number(const std::string& word, int* cpu) {
  if (word.empty() || word.size() > 9) return false;
  int v = 0;
  for (const char c : word) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  *cpu = v;
  return true;
}

}  // namespace

bool parse_replay_record(const std::string& text, const std::string& name, ReplayRecord* record,
                         std::string* error) {
  ReplayRecord parsed(1, ReplayProcessor{-1, {}});
  int cpu_line = 0;  // the line of the last "cpu N", 0 before the first
  const auto at_line = [&](int number) { return name + ":" + std::to_string(number) + ": "; };
  const auto empty_processor = [&]() {
    *error = at_line(cpu_line) + "logical processor " + std::to_string(parsed.back().cpu) +
             " has no answers";
    return false;
  };
  size_t pos = 0;
  for (int number = 1; pos < text.size(); ++number) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    // The line without its comment, split into words at white space.
    const void* hash = memchr(text.data() + pos, '#', end - pos);
    const size_t stop = hash != nullptr ? static_cast<const char*>(hash) - text.data() : end;
    uint32_t v[6];
    int count = 0;
    bool is_cpu = false;
    int cpu = -1;
    for (size_t i = pos; i < stop;) {
      if (is_space(text[i])) {
        ++i;
        continue;
      }
      size_t j = i;
      while (j < stop && !is_space(text[j])) ++j;
      const std::string word = text.substr(i, j - i);
      i = j;
      if (count == 0 && !is_cpu && word == "cpu") {
        is_cpu = true;
      } else if (is_cpu) {
        if (cpu >= 0 || !parse_cpu_number(word, &cpu)) {
          *error = at_line(number) + "expected cpu N, N a logical processor number in decimal";
          return false;
        }
      } else if (count == 6) {
        *error = at_line(number) + "more than six numbers";
        return false;
      } else if (!parse_hex_word(word, &v[count])) {
        *error = at_line(number) + "'" + word + "' is not a hexadecimal number of at most 8 digits";
        return false;
      } else {
        ++count;
      }
    }
    pos = end + 1;
    if (is_cpu) {
      if (cpu < 0) {
        *error = at_line(number) + "expected cpu N, N a logical processor number in decimal";
        return false;
      }
      if (cpu_line == 0 && !parsed.back().table.empty()) {
        *error = at_line(number) + "the answers above belong to no cpu line";
        return false;
      }
      if (cpu_line != 0 && parsed.back().table.empty()) return empty_processor();
      for (const ReplayProcessor& p : parsed) {
        if (p.cpu == cpu) {
          *error =
              at_line(number) + "logical processor " + std::to_string(cpu) + " is listed twice";
          return false;
        }
      }
      if (cpu_line == 0) {
        parsed.back().cpu = cpu;
      } else {
        parsed.push_back(ReplayProcessor{cpu, {}});
      }
      cpu_line = number;
      continue;
    }
    if (count == 0) continue;
    if (count != 6) {
      *error = at_line(number) + "expected LEAF SUBLEAF EAX EBX ECX EDX, found " +
               std::to_string(count) + " numbers";
      return false;
    }
    ReplayTable& table = parsed.back().table;
    if (!table.emplace(std::make_pair(v[0], v[1]), CpuidResult{v[2], v[3], v[4], v[5]}).second) {
      char pair[64];
      snprintf(pair, sizeof pair, "leaf 0x%x subleaf 0x%x", v[0], v[1]);
      *error = at_line(number) + pair + " is listed twice";
      return false;
    }
  }
  if (cpu_line != 0 && parsed.back().table.empty()) return empty_processor();
  *record = std::move(parsed);
  return true;
}

bool parse_replay(const std::string& text, const std::string& name, ReplayTable* table,
                  std::string* error) {
  ReplayRecord record;
  if (!parse_replay_record(text, name, &record, error)) return false;
  *table = std::move(record.front().table);
  return true;
}

bool load_replay_record(const std::string& path, ReplayRecord* record, std::string* error) {
  // A folder can open as a stream that reads nothing, which would pass for a
  // file without lines (a processor that answers zeros everywhere).
  struct stat info;
  if (stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
    *error = path + ": is a folder, not a replay file";
    return false;
  }
  FILE* in = fopen(path.c_str(), "rb");
  if (in == nullptr) {
    *error = path + ": cannot open the file";
    return false;
  }
  std::string text;
  char chunk[4096];
  size_t n;
  while ((n = fread(chunk, 1, sizeof chunk, in)) != 0) text.append(chunk, n);
  const bool failed = ferror(in) != 0;
  fclose(in);
  if (failed) {
    *error = path + ": cannot read the file";
    return false;
  }
  return parse_replay_record(text, path, record, error);
}

bool load_replay_file(const std::string& path, ReplayTable* table, std::string* error) {
  ReplayRecord record;
  if (!load_replay_record(path, &record, error)) return false;
  *table = std::move(record.front().table);
  return true;
}
