#include "fake_processor.h"

#include <string.h>

#include <filesystem>
#include <fstream>
#include <sstream>

FakeProcessor g_fake_cpu;

void fake_processor_reset() {
  g_fake_cpu.leaves.clear();
  g_fake_cpu.queries.clear();
}

void fake_cpuid_set(uint32_t leaf, uint32_t subleaf, uint32_t eax, uint32_t ebx, uint32_t ecx,
                    uint32_t edx) {
  g_fake_cpu.leaves[{leaf, subleaf}] = CpuidResult{eax, ebx, ecx, edx};
}

int fake_cpuid_count(uint32_t leaf) {
  int n = 0;
  for (const auto& q : g_fake_cpu.queries) n += q.first == leaf ? 1 : 0;
  return n;
}

namespace {

uint32_t pack4(const char* p) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(p[i]);
  return v;
}

}  // namespace

void fake_cpuid_set_vendor(uint32_t max_basic, const char* vendor12) {
  char v[12] = {};
  memcpy(v, vendor12, strnlen(vendor12, 12));
  fake_cpuid_set(0, 0, max_basic, pack4(v), pack4(v + 8), pack4(v + 4));
}

void fake_cpuid_set_brand(const std::string& brand48) {
  char b[48] = {};
  memcpy(b, brand48.data(), brand48.size() < 48 ? brand48.size() : 48);
  for (uint32_t i = 0; i < 3; ++i) {
    const char* p = b + 16 * i;
    fake_cpuid_set(0x80000002u + i, 0, pack4(p), pack4(p + 4), pack4(p + 8), pack4(p + 12));
  }
}

extern "C" CpuidResult cpuid_query(uint32_t leaf, uint32_t subleaf) {
  g_fake_cpu.queries.emplace_back(leaf, subleaf);
  auto it = g_fake_cpu.leaves.find({leaf, subleaf});
  return it == g_fake_cpu.leaves.end() ? CpuidResult{0, 0, 0, 0} : it->second;
}

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

bool parse_replay(const std::string& text, const std::string& name,
                  std::map<std::pair<uint32_t, uint32_t>, CpuidResult>* table, std::string* error) {
  std::map<std::pair<uint32_t, uint32_t>, CpuidResult> parsed;
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

bool load_replay_file(const std::string& path,
                      std::map<std::pair<uint32_t, uint32_t>, CpuidResult>* table,
                      std::string* error) {
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

std::string recorded_processors_dir(const std::string& dir) {
  for (const std::string& candidate : {dir, "Z:" + dir}) {
    std::error_code ignored;
    if (std::filesystem::is_directory(candidate, ignored)) return candidate;
  }
  return "";
}
