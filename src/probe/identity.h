// Who made the processor and what it is.
#ifndef VELQUORN_PROBE_IDENTITY_H
#define VELQUORN_PROBE_IDENTITY_H

extern "C" {

// The 12 vendor characters of CPUID leaf 0 and a NUL.
struct VendorText {
  char text[13];
};

struct CpuIdentity {
  char vendor[13];  // "GenuineIntel", "AuthenticAMD", ...
  char brand[49];   // up to 48 characters, or "Unknown"
  int family;
  int model;
  int stepping;
};

VendorText read_vendor(void);
CpuIdentity read_identity(void);

}  // extern "C"

#endif  // VELQUORN_PROBE_IDENTITY_H
