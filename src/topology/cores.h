// Processor counts as the operating system sees them.
#ifndef VELQUORN_TOPOLOGY_CORES_H
#define VELQUORN_TOPOLOGY_CORES_H

extern "C" {

// Physical cores from the operating system's core list; the logical count
// when the list cannot be had.
int count_physical_cores(void);

}  // extern "C"

#endif  // VELQUORN_TOPOLOGY_CORES_H
