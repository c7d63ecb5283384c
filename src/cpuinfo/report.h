// The library-owned buffers and the feature list of the report.
#ifndef VELQUORN_CPUINFO_REPORT_H
#define VELQUORN_CPUINFO_REPORT_H

#include <stddef.h>

extern "C" {

constexpr size_t kReportSize = 8192;
constexpr size_t kFeatureListSize = 1024;

extern char g_err[256];
extern char g_json[kReportSize];

// Fills a kFeatureListSize-byte buffer with the quoted, comma-separated names
// of the features present ("sse","sse2",...), or the empty string.
void build_feature_list(char* buffer);

}  // extern "C"

#endif  // VELQUORN_CPUINFO_REPORT_H
