#include "record.h"

#include <stdio.h>

#include "text.h"

namespace {

constexpr uint32_t kHypervisorLeaves = 0x40000000u;
constexpr uint32_t kExtendedLeaves = 0x80000000u;
constexpr uint32_t kRangeSpacing = 0x40000000u;
constexpr uint32_t kHypervisorBit = 1u << 31;  // CPUID.1:ECX bit 31

// Collects answers up to the limit; each pair is asked once.
class Walker {
 public:
  explicit Walker(const RecordLimits& limits, Recording* out) : limits_(limits), out_(out) {}

  // Asks one pair and keeps the answer; false (asking nothing) once full.
  bool ask(uint32_t leaf, uint32_t subleaf, CpuidResult* regs) {
    if (out_->answers.size() >= limits_.answers) {
      out_->truncated = true;
      return false;
    }
    *regs = cpuid_query(leaf, subleaf);
    out_->answers.push_back({leaf, subleaf, *regs});
    return true;
  }

  // One range: its first leaf declares the range's highest leaf in EAX
  // (taken as the first leaf itself when it lies below); then every leaf up
  // to it, at most leaves_per_range in all.
  void range(uint32_t first) {
    // Ranges are 0x40000000 leaves apart: a larger limit could not keep a
    // pair from being asked twice.
    const uint32_t per_range =
        limits_.leaves_per_range < kRangeSpacing ? limits_.leaves_per_range : kRangeSpacing;
    CpuidResult r;
    if (per_range == 0 || !leaf(first, &r)) return;
    const uint32_t span = r.eax > first ? r.eax - first : 0;
    const uint32_t more = span < per_range - 1 ? span : per_range - 1;
    for (uint32_t i = 1; i <= more; ++i) {
      if (!leaf(first + i, &r)) return;
    }
  }

  // The answer kept for a pair, or null.
  const CpuidResult* find(uint32_t leaf, uint32_t subleaf) const {
    for (const RecordedAnswer& a : out_->answers) {
      if (a.leaf == leaf && a.subleaf == subleaf) return &a.regs;
    }
    return nullptr;
  }

 private:
  // One leaf with the subleaves that its rule asks for, subleaf 0's answer
  // in *first; false once full.
  bool leaf(uint32_t leaf, CpuidResult* first) {
    if (!ask(leaf, 0, first)) return false;
    CpuidResult r = *first;
    const uint32_t most = limits_.subleaves_per_leaf;
    switch (leaf) {
      case 4:
      case 0x8000001Du:
        // Cache descriptors: EAX 4:0 is the cache type, 0 after the last.
        for (uint32_t sub = 1; sub < most && (r.eax & 0x1F) != 0; ++sub) {
          if (!ask(leaf, sub, &r)) return false;
        }
        return true;
      case 0xB:
      case 0x1F:
        // Topology levels: ECX 15:8 is the level type, 0 after the last.
        for (uint32_t sub = 1; sub < most && ((r.ecx >> 8) & 0xFF) != 0; ++sub) {
          if (!ask(leaf, sub, &r)) return false;
        }
        return true;
      case 7: {
        // Subleaf 0 EAX is the highest subleaf.
        const uint32_t last = r.eax;
        for (uint32_t sub = 1; sub < most && sub <= last; ++sub) {
          if (!ask(leaf, sub, &r)) return false;
        }
        return true;
      }
      case 0xD: {
        // XSAVE state components: subleaf n >= 2 describes component n,
        // present when bit n of XCR0's supported mask (subleaf 0 EDX:EAX) or
        // of IA32_XSS's (subleaf 1 EDX:ECX) is set.
        uint64_t components = (uint64_t{r.edx} << 32) | r.eax;
        if (most > 1) {
          if (!ask(leaf, 1, &r)) return false;
          components |= (uint64_t{r.edx} << 32) | r.ecx;
        }
        for (uint32_t sub = 2; sub < most && sub < 64; ++sub) {
          if (((components >> sub) & 1) != 0 && !ask(leaf, sub, &r)) return false;
        }
        return true;
      }
      default:
        return true;
    }
  }

  const RecordLimits& limits_;
  Recording* out_;
};

}  // namespace

Recording record_cpuid(const RecordLimits& limits) {
  Recording recording;
  Walker walk(limits, &recording);
  walk.range(0);
  const CpuidResult* leaf1 = walk.find(1, 0);
  if (leaf1 != nullptr && (leaf1->ecx & kHypervisorBit) != 0) walk.range(kHypervisorLeaves);
  walk.range(kExtendedLeaves);
  return recording;
}

namespace {

// The header comments; `processor` is the text of the "Logical processor" line.
std::string header_text(const RecordHeader& header, const char* label,
                        const std::string& processor) {
  std::string text;
  const auto comment = [&text](const char* name, const std::string& value) {
    text += "# ";
    text += name;
    text += printable_text(value);
    text += '\n';
  };
  comment("Recorded CPUID answers by velquorn-cpuinfo ", header.tool_version);
  comment("Date (UTC): ", header.date_utc);
  comment("Operating system: ", header.os);
  comment("Logical processors: ", std::to_string(header.logical_processors));
  comment("Brand: ", header.brand);
  comment(label, processor);
  text += "# leaf    subleaf  eax      ebx      ecx      edx\n";
  return text;
}

std::string answers_text(const Recording& recording) {
  std::string text;
  char line[64];
  for (const RecordedAnswer& a : recording.answers) {
    snprintf(line, sizeof line, "%08x %08x %08x %08x %08x %08x\n", a.leaf, a.subleaf, a.regs.eax,
             a.regs.ebx, a.regs.ecx, a.regs.edx);
    text += line;
  }
  if (recording.truncated)
    text += "# Stopped at " + std::to_string(recording.answers.size()) +
            " answers: the processor declares more.\n";
  return text;
}

}  // namespace

std::string format_recording(const RecordHeader& header, const Recording& recording) {
  std::string processor = header.processor < 0 ? "unknown" : std::to_string(header.processor);
  if (header.processor >= 0 && !header.pinned) processor += " (when the recording began)";
  return header_text(header, "Logical processor: ", processor) + answers_text(recording);
}

std::string format_recordings(const RecordHeader& header,
                              const std::vector<ProcessorRecording>& processors) {
  std::string text =
      header_text(header, "Logical processors recorded: ",
                  std::to_string(processors.size()) + ", the thread held on each in turn");
  for (const ProcessorRecording& p : processors)
    text += "cpu " + std::to_string(p.cpu) + "\n" + answers_text(p.recording);
  return text;
}
