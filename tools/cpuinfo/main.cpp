// velquorn-cpuinfo: this machine's processor as the library describes it,
// for people and for scripts. See the usage text in cli.cpp.
#include <stdio.h>

#include "cli.h"
#include "host.h"

int main(int argc, char** argv) {
  // The same bytes on every platform: lines end with "\n", not "\r\n".
  host_binary_output(stdout);
  return run_cli(argc, argv, stdout, stderr);
}
