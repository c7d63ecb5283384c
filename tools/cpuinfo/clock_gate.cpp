#include "clock_gate.h"

#include <stdint.h>

namespace {

bool g_measure = true;

}  // namespace

void set_clock_measurement(bool on) { g_measure = on; }

// The names that --wrap gives: the core's calls of os_sleep arrive here, and
// __real_os_sleep is the operating system's (or the test fake's) os_sleep.
extern "C" void __real_os_sleep(uint32_t milliseconds);

extern "C" void __wrap_os_sleep(uint32_t milliseconds) {
  if (g_measure) __real_os_sleep(milliseconds);
}
