// What the tool asks of the operating system beyond the library's own seam:
// thread affinity, the processors the process may use and the one the thread
// runs on, texts for a recording's header, the terminal, a clock and binary
// output. host_linux.cpp and
// host_windows.cpp answer them.
#ifndef VELQUORN_TOOLS_CPUINFO_HOST_H
#define VELQUORN_TOOLS_CPUINFO_HOST_H

#include <stdio.h>

#include <string>
#include <vector>

// Logical processors are numbered as the operating system does: on Linux the
// kernel's CPU numbers; on Windows the processors of every processor group,
// counted across the groups in order (group 0's first, then group 1's, ...),
// so that machines with more than 64 are covered.

// Holds the calling thread on logical processor `cpu`. False with *error when
// the processor does not exist or the process may not use it.
bool host_pin_thread(unsigned cpu, std::string* error);

// The logical processor the calling thread runs on now; -1 when unknown.
int host_current_processor();

// Every logical processor that the process may use, in ascending order (Linux:
// its affinity mask; Windows: every processor of every group). Empty when it
// cannot be read.
std::vector<unsigned> host_usable_processors();

// The operating system's name, version and machine, in one line.
std::string host_os_text();

// The current time in UTC, ISO 8601 ("2026-12-09T12:34:56Z").
std::string host_utc_date();

// Columns of the terminal that `out` writes to; 0 when it is not a terminal.
int host_terminal_columns(FILE* out);

// True when `out` writes to a terminal.
bool host_is_terminal(FILE* out);

// Seconds from a fixed point in the past, never going back.
double host_seconds();

// Writes "\n" as one byte (Windows translates it to "\r\n" otherwise).
void host_binary_output(FILE* out);

// Opens a file for the new contents of `path`. When `path` names no file or a
// regular file that may be written, a new file beside it (in the same folder,
// *temp its name) that host_replace_file puts in its place; otherwise (a
// device, a pipe, a folder; on Linux a link too) `path` itself, as
// fopen(path, "wb") opens it, and *temp empty. Null, with errno set, when it
// cannot.
FILE* host_open_replacement(const std::string& path, std::string* temp);

// Puts file `temp` in the place of `path` in one step, replacing the file
// there. False, with errno set, when it cannot.
bool host_replace_file(const std::string& temp, const std::string& path);

#endif  // VELQUORN_TOOLS_CPUINFO_HOST_H
