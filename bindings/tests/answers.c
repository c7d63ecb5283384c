/* The module's answers as a C program linked to it sees them, for the tests
 * of the bindings to compare with. Reads feature names from standard input,
 * one a line (an empty line is the empty name), and prints tab-separated
 * lines:
 *
 *   version<TAB>TEXT
 *   last_error<TAB>TEXT
 *   logical_cores<TAB>N
 *   has<TAB>NAME<TAB>ANSWER     one line for each name read, in order
 *   current_mhz<TAB>N
 *   report<TAB>JSON
 */
#include <stdio.h>
#include <string.h>

#include "velquorn/cpuinfo.h"

int main(void) {
  printf("version\t%s\n", cpuinfo_version());
  printf("last_error\t%s\n", cpuinfo_last_error());
  printf("logical_cores\t%d\n", cpuinfo_logical_cores());
  char name[256];
  while (fgets(name, sizeof name, stdin) != NULL) {
    const size_t length = strcspn(name, "\r\n");
    if (name[length] == '\0' && !feof(stdin)) {
      fprintf(stderr, "answers: a feature name longer than %zu bytes\n", sizeof name - 2);
      return 2;
    }
    name[length] = '\0';
    printf("has\t%s\t%d\n", name, cpuinfo_has_feature(name));
  }
  printf("current_mhz\t%d\n", cpuinfo_current_mhz());
  printf("report\t%s\n", cpuinfo_get_json());
  return 0;
}
