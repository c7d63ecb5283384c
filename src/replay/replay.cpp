#include "replay/replay.h"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

namespace {

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

}  // namespace

bool parse_replay(const std::string& text, const std::string& name, ReplayTable* table,
                  std::string* error) {
  ReplayTable parsed;
  std::istringstream in(text);
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    const size_t hash = line.find('#');
    if (hash != std::string::npos) line.erase(hash);
    std::istringstream words(line);
    std::string word;
    uint32_t v[6];
    int count = 0;
    while (words >> word) {
      if (count == 6) {
        *error = name + ":" + std::to_string(number) + ": more than six numbers";
        return false;
      }
      if (!parse_hex_word(word, &v[count])) {
        *error = name + ":" + std::to_string(number) + ": '" + word +
                 "' is not a hexadecimal number of at most 8 digits";
        return false;
      }
      ++count;
    }
    if (count == 0) continue;
    if (count != 6) {
      *error = name + ":" + std::to_string(number) +
               ": expected LEAF SUBLEAF EAX EBX ECX EDX, found " + std::to_string(count) +
               " numbers";
      return false;
    }
    if (!parsed.emplace(std::make_pair(v[0], v[1]), CpuidResult{v[2], v[3], v[4], v[5]}).second) {
      std::ostringstream msg;
      msg << name << ":" << number << ": leaf 0x" << std::hex << v[0] << " subleaf 0x" << v[1]
          << " is listed twice";
      *error = msg.str();
      return false;
    }
  }
  *table = std::move(parsed);
  return true;
}

bool load_replay_file(const std::string& path, ReplayTable* table, std::string* error) {
  // A folder opens as a stream that reads nothing, which would pass for a
  // file without lines (a processor that answers zeros everywhere).
  std::error_code ignored;
  if (std::filesystem::is_directory(path, ignored)) {
    *error = path + ": is a folder, not a replay file";
    return false;
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = path + ": cannot open the file";
    return false;
  }
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) {
    *error = path + ": cannot read the file";
    return false;
  }
  return parse_replay(text.str(), path, table, error);
}
