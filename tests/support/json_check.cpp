#include "json_check.h"

#include <string.h>

namespace {

struct Parser {
  const char* p;
  const char* end;
  std::string* why;

  bool fail(const std::string& reason) {
    if (why != nullptr && why->empty()) *why = reason;
    return false;
  }
  bool at_end() const { return p == end; }
  bool eat(char c) {
    if (p < end && *p == c) {
      ++p;
      return true;
    }
    return false;
  }
  bool expect(char c, const char* what) {
    return eat(c) || fail(std::string("expected ") + what + " at offset " + offset());
  }
  std::string offset() const { return std::to_string(p - begin); }

  // A JSON string; its raw bytes (escapes left as written) go to *raw.
  bool string(std::string* raw) {
    if (!expect('"', "'\"'")) return false;
    const char* start = p;
    while (p < end && *p != '"') {
      const unsigned char c = static_cast<unsigned char>(*p);
      if (c < 0x20) return fail("control byte in a string at offset " + offset());
      if (c >= 0x80) return fail("byte above 0x7F in a string at offset " + offset());
      if (c == '\\') {
        ++p;
        if (p == end) break;
        if (*p == 'u') {
          for (int i = 1; i <= 4; ++i) {
            if (p + i >= end || strchr("0123456789abcdefABCDEF", p[i]) == nullptr || p[i] == 0)
              return fail("bad \\u escape at offset " + offset());
          }
          p += 4;
        } else if (strchr("\"\\/bfnrt", *p) == nullptr || *p == 0) {
          return fail("bad escape at offset " + offset());
        }
      }
      ++p;
    }
    if (raw != nullptr) raw->assign(start, static_cast<size_t>(p - start));
    return expect('"', "closing '\"'");
  }

  // An integer as JSON writes it: -?(0|[1-9][0-9]*), no fraction or exponent.
  bool integer() {
    eat('-');
    if (p == end || *p < '0' || *p > '9') return fail("expected a digit at offset " + offset());
    if (*p == '0') {
      ++p;
    } else {
      while (p < end && *p >= '0' && *p <= '9') ++p;
    }
    if (p < end && (*p == '.' || *p == 'e' || *p == 'E'))
      return fail("expected an integer at offset " + offset());
    return true;
  }

  bool string_array() {
    if (!expect('[', "'['")) return false;
    if (eat(']')) return true;
    do {
      if (!string(nullptr)) return false;
    } while (eat(','));
    return expect(']', "']'");
  }

  const char* begin;
};

enum Kind { kString, kInt, kFlag, kArray };

struct Member {
  const char* key;
  Kind kind;
};

constexpr Member kMembers[] = {
    {"vendor", kString}, {"brand", kString},       {"family", kInt},        {"model", kInt},
    {"stepping", kInt},  {"physical_cores", kInt}, {"logical_cores", kInt}, {"l1d_kb", kInt},
    {"l1i_kb", kInt},    {"l2_kb", kInt},          {"l3_kb", kInt},         {"base_mhz", kInt},
    {"max_mhz", kInt},   {"current_mhz", kInt},    {"features", kArray},    {"hypervisor", kFlag},
    {"x64", kFlag},
};

}  // namespace

bool check_report_json(const char* text, size_t size, std::string* why) {
  if (why != nullptr) why->clear();
  Parser ps{text, text + size, why, text};
  if (memchr(text, '\0', size) != nullptr) return ps.fail("NUL inside the text");
  if (!ps.expect('{', "'{'")) return false;
  bool first = true;
  for (const Member& m : kMembers) {
    if (!first && !ps.expect(',', "','")) return false;
    first = false;
    std::string key;
    if (!ps.string(&key)) return false;
    if (key != m.key)
      return ps.fail("expected member \"" + std::string(m.key) + "\", found \"" + key + "\"");
    if (!ps.expect(':', "':'")) return false;
    switch (m.kind) {
      case kString:
        if (!ps.string(nullptr)) return false;
        break;
      case kInt:
        if (!ps.integer()) return false;
        break;
      case kFlag:
        if (!ps.eat('0') && !ps.eat('1')) return ps.fail(std::string(m.key) + " is not 0 or 1");
        break;
      case kArray:
        if (!ps.string_array()) return false;
        break;
    }
  }
  if (!ps.expect('}', "'}' after the 17 members")) return false;
  if (!ps.at_end()) return ps.fail("text after the closing brace at offset " + ps.offset());
  return true;
}
