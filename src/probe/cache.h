// Sizes of the level-1 data and instruction, level-2 and level-3 caches.
#ifndef VELQUORN_PROBE_CACHE_H
#define VELQUORN_PROBE_CACHE_H

extern "C" {

// Sizes in KiB; 0 where no source gives one.
struct CacheSizes {
  int l1d_kb;
  int l1i_kb;
  int l2_kb;
  int l3_kb;
};

CacheSizes detect_caches(void);

}  // extern "C"

#endif  // VELQUORN_PROBE_CACHE_H
