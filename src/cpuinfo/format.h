// Bounded formatting for the report: the C99 snprintf contract on every
// platform, from the C runtime's own formatter.
#ifndef VELQUORN_CPUINFO_FORMAT_H
#define VELQUORN_CPUINFO_FORMAT_H

#include <stdarg.h>
#include <stddef.h>
#include <stdio.h>

// Formats into `buffer` of `size` bytes (size > 0). The text is always
// NUL-terminated and never runs past the buffer. Returns its length when it
// fits whole; otherwise the buffer holds as much of it as fits and the
// return is at least `size`, as C99's snprintf signals a cut.
#ifdef __GNUC__
__attribute__((format(printf, 3, 4)))
#endif
inline int
format_bounded(char* buffer, size_t size, const char* format, ...) {
  va_list args;
  va_start(args, format);
#ifdef _WIN32
  // The C runtime's own formatter (msvcrt.dll's _vsnprintf), so the module
  // carries none (MinGW's snprintf is a static one, with a runtime of its
  // own). It returns -1 when the text is longer than the buffer and leaves
  // no NUL when it is exactly as long.
  int n = _vsnprintf(buffer, size, format, args);
  if (n < 0 || static_cast<size_t>(n) >= size) {
    buffer[size - 1] = '\0';
    n = static_cast<int>(size);
  }
#else
  const int n = vsnprintf(buffer, size, format, args);
#endif
  va_end(args);
  return n;
}

#endif  // VELQUORN_CPUINFO_FORMAT_H
