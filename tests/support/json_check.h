// A strict checker for the report document: RFC 8259 JSON with nothing
// before or after it, holding exactly the report's 17 members in order, each
// of its kind (string, integer, array of strings).
#ifndef VELQUORN_TESTS_JSON_CHECK_H
#define VELQUORN_TESTS_JSON_CHECK_H

#include <stddef.h>

#include <string>

// True when `text` (of `size` bytes, no NUL inside) is a valid report;
// otherwise false with the reason in *why.
bool check_report_json(const char* text, size_t size, std::string* why);

inline bool check_report_json(const std::string& text, std::string* why) {
  return check_report_json(text.data(), text.size(), why);
}

#endif  // VELQUORN_TESTS_JSON_CHECK_H
