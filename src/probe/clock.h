// The base and maximum clocks that the processor declares, and the measured
// rate of its time-stamp counter (the export cpuinfo_current_mhz).
#ifndef VELQUORN_PROBE_CLOCK_H
#define VELQUORN_PROBE_CLOCK_H

extern "C" {

// MHz; 0 where no source gives one.
struct ClockInfo {
  int base_mhz;
  int max_mhz;
};

ClockInfo read_nominal_clocks(void);

}  // extern "C"

#endif  // VELQUORN_PROBE_CLOCK_H
