// Recording: this processor's CPUID answers, walked over the processor seam
// (cpuid_query) and written in the replay format, so that any machine's
// processor can become a replay file.
#ifndef VELQUORN_TOOLS_CPUINFO_RECORD_H
#define VELQUORN_TOOLS_CPUINFO_RECORD_H

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "platform/processor.h"

// How far a recording may go, whatever the processor declares. The three
// leaf ranges (basic from 0, hypervisor from 0x40000000, extended from
// 0x80000000) each hold at most `leaves_per_range` leaves, so that an absurd
// highest leaf in one range neither runs into the next nor crowds it out.
struct RecordLimits {
  uint32_t leaves_per_range = 256;
  uint32_t subleaves_per_leaf = 64;
  size_t answers = 4096;
};

struct RecordedAnswer {
  uint32_t leaf;
  uint32_t subleaf;
  CpuidResult regs;
};

struct Recording {
  std::vector<RecordedAnswer> answers;  // in the order asked, each pair once
  bool truncated = false;               // the answer limit cut the walk short
};

// Asks cpuid_query for every leaf the processor declares:
// - every basic leaf from 0 to CPUID.0:EAX, every extended leaf from
//   0x80000000 to CPUID.80000000h:EAX, and, when CPUID.1:ECX bit 31 says a
//   hypervisor is present, every leaf from 0x40000000 to CPUID.40000000h:EAX;
//   a range whose highest leaf lies below its first leaf gives its first leaf;
// - leaves 4 and 0x8000001D subleaf by subleaf up to and including the first
//   with cache type 0 (EAX 4:0), leaves 0xB and 0x1F up to and including the
//   first with level type 0 (ECX 15:8), leaf 7 up to the subleaf count of
//   subleaf 0 EAX, leaf 0xD subleaves 0 and 1 and each subleaf n from 2 to 63
//   whose bit is set in the XCR0 mask (subleaf 0 EDX:EAX) or the IA32_XSS
//   mask (subleaf 1 EDX:ECX); every other leaf at subleaf 0.
// Each walk stops at the limits.
Recording record_cpuid(const RecordLimits& limits = RecordLimits{});

// The comment lines at the top of a recording.
struct RecordHeader {
  std::string tool_version;
  std::string date_utc;  // ISO 8601
  std::string os;
  int logical_processors;
  std::string brand;
  int processor;  // the logical processor that answered; -1 unknown
  bool pinned;    // the thread was held on that processor throughout
};

// The replay file: header comments, then one "LEAF SUBLEAF EAX EBX ECX EDX"
// line per answer in eight hexadecimal digits. Header texts are written with
// every byte outside printable ASCII as \xHH (and '\' as \\), so that no
// text can end a comment line early and slip an answer into the file.
std::string format_recording(const RecordHeader& header, const Recording& recording);

struct ProcessorRecording {
  unsigned cpu;  // the logical processor that answered
  Recording recording;
};

// The replay file of several processors (ascending): the header comments,
// whose last line counts the processors instead of header.processor, then
// for each processor a line "cpu N" and its answer lines.
std::string format_recordings(const RecordHeader& header,
                              const std::vector<ProcessorRecording>& processors);

#endif  // VELQUORN_TOOLS_CPUINFO_RECORD_H
