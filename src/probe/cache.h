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

// "AuthenticAMD" and "HygonGenuine" walk leaf 8000001Dh, or read the older
// size leaves 80000005h/80000006h when the highest extended leaf is below
// 8000001Dh or subleaf 0 of 8000001Dh holds no descriptor; every other vendor
// walks leaf 4.
CacheSizes detect_caches(void);

}  // extern "C"

#endif  // VELQUORN_PROBE_CACHE_H
