// cpuid-replay FILE: prints the report that the library gives for the
// processor recorded in FILE (one "LEAF SUBLEAF EAX EBX ECX EDX" line per CPUID
// answer; of a record of several processors, the first). CPUID is answered
// from the file; core counts, the high-resolution counter, the time-stamp
// counter and the "~MHz" value come from this machine.
//
// Exit status: 0 with the report and one newline on stdout; 2 with one line
// on stderr (and nothing on stdout) for a bad command line or replay file;
// 1 when the report cannot be written.
#include <stdio.h>

#include <string>

#include "platform/processor_replay.h"
#include "replay/replay.h"
#include "velquorn/cpuinfo.h"

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#endif

namespace {

constexpr int kBadInput = 2;
constexpr int kWriteFailed = 1;

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: cpuid-replay FILE (a CPUID replay file)\n");
    return kBadInput;
  }
  ReplayTable table;
  std::string error;
  if (!load_replay_file(argv[1], &table, &error)) {
    fprintf(stderr, "cpuid-replay: %s\n", error.c_str());
    return kBadInput;
  }
  processor_answer_from(table);

#if defined(_WIN32)
  // The same bytes on every platform: the report and "\n", not "\r\n".
  _setmode(_fileno(stdout), _O_BINARY);
#endif
  const char* report = cpuinfo_get_json();
  if (fputs(report, stdout) == EOF || fputc('\n', stdout) == EOF || fflush(stdout) != 0) {
    fprintf(stderr, "cpuid-replay: cannot write the report\n");
    return kWriteFailed;
  }
  return 0;
}
