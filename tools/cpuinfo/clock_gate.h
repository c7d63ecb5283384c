// The tool's switch for the library's clock measurement. Every program that
// links the tool's code routes the core's os_sleep through clock_gate.cpp
// (link option --wrap=os_sleep, set on velquorn_cli). While the measurement is
// off, its 50 ms sleep returns at once: a report then costs its CPUIDs and
// operating-system queries alone, and its current_mhz means nothing.
// --all-cpus compares the processors' reports that way, then takes each
// group's report, measurement included, on one of its processors.
#ifndef VELQUORN_TOOLS_CPUINFO_CLOCK_GATE_H
#define VELQUORN_TOOLS_CPUINFO_CLOCK_GATE_H

// On (the default) or off; no lock, as the tool reports from one thread.
void set_clock_measurement(bool on);

#endif  // VELQUORN_TOOLS_CPUINFO_CLOCK_GATE_H
