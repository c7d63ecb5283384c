/* velquorn cpuinfo: describes the processor that the calling program runs on.
 *
 * Every returned pointer points into storage owned by the library; never free
 * it or write through it. Integers are 32-bit signed; -1 means the library
 * cannot answer. cpuinfo_get_json rewrites one shared buffer: serialise its
 * calls and copy the text before the next call. The other five functions may
 * run on any number of threads at once. */
#ifndef VELQUORN_CPUINFO_H
#define VELQUORN_CPUINFO_H

#if defined(_WIN32)
#if defined(VELQUORN_CPUINFO_BUILD)
#define VELQUORN_CPUINFO_API __declspec(dllexport)
#elif defined(VELQUORN_CPUINFO_STATIC)
#define VELQUORN_CPUINFO_API
#else
#define VELQUORN_CPUINFO_API __declspec(dllimport)
#endif
#define VELQUORN_CPUINFO_CALL __cdecl
#else
#if defined(VELQUORN_CPUINFO_BUILD)
#define VELQUORN_CPUINFO_API __attribute__((visibility("default")))
#else
#define VELQUORN_CPUINFO_API
#endif
#define VELQUORN_CPUINFO_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The library's version, "1.0.0"; the same pointer on every call. */
VELQUORN_CPUINFO_API const char* VELQUORN_CPUINFO_CALL cpuinfo_version(void);

/* The last-error text: always the empty string, at the same address. */
VELQUORN_CPUINFO_API const char* VELQUORN_CPUINFO_CALL cpuinfo_last_error(void);

/* Number of logical processors that the operating system reports. */
VELQUORN_CPUINFO_API int VELQUORN_CPUINFO_CALL cpuinfo_logical_cores(void);

/* 1 when the processor has the named feature, 0 when it lacks it, -1 when
 * name is null or is not a known feature name ("x64", "sse2", "avx2", ...). */
VELQUORN_CPUINFO_API int VELQUORN_CPUINFO_CALL cpuinfo_has_feature(const char* name);

/* Rate of the time-stamp counter over a sleep of about 50 ms, in MHz; -1 when
 * the measured interval is not positive, -2147483648 when the rate does not
 * fit in an int. */
VELQUORN_CPUINFO_API int VELQUORN_CPUINFO_CALL cpuinfo_current_mhz(void);

/* The full report as one line of JSON in a library-owned buffer. */
VELQUORN_CPUINFO_API const char* VELQUORN_CPUINFO_CALL cpuinfo_get_json(void);

#ifdef __cplusplus
}
#endif

#endif /* VELQUORN_CPUINFO_H */
