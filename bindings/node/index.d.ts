// Declarations of velquorn-cpuinfo, for the CommonJS and the ES-module entry.

/** A name that hasFeature() knows. */
export type FeatureName =
  | 'sse' | 'sse2' | 'htt' | 'sse3' | 'ssse3' | 'fma' | 'sse41' | 'sse42' | 'popcnt' | 'aes'
  | 'avx' | 'f16c' | 'rdrand' | 'hypervisor' | 'bmi1' | 'avx2' | 'bmi2' | 'rdseed' | 'sha'
  | 'avx512f' | 'x64';

/** The report's 17 members, in the module's order. -1: the module cannot tell. */
export interface Report {
  vendor: string;
  brand: string;
  family: number;
  model: number;
  stepping: number;
  physical_cores: number;
  logical_cores: number;
  l1d_kb: number;
  l1i_kb: number;
  l2_kb: number;
  l3_kb: number;
  base_mhz: number;
  max_mhz: number;
  current_mhz: number;
  /** The present features of FEATURES, in its order, without hypervisor and x64. */
  features: FeatureName[];
  hypervisor: 0 | 1;
  x64: 0 | 1;
}

/** The 21 names, frozen, in report order. */
export const FEATURES: readonly FeatureName[];
/** The module's version, "1.0.0". */
export function version(): string;
/** The module's last-error text (the empty string). */
export function lastError(): string;
/** The number of logical processors that the operating system reports. */
export function logicalCores(): number;
/**
 * Whether the processor has the feature. Throws a TypeError for a non-string
 * and a RangeError for a name that is not in FEATURES.
 */
export function hasFeature(name: FeatureName | string): boolean;
/** The clock over about 50 ms in MHz, off the main thread (-1: no interval, INT32_MIN: no rate). */
export function currentMhz(): Promise<number>;
/** The clock, blocking this thread for about 50 ms. */
export function currentMhzSync(): number;
/** The report as the module's line of JSON, made off the main thread. */
export function reportJson(): Promise<string>;
/** The report's line of JSON, blocking this thread for about 50 ms. */
export function reportJsonSync(): string;
/** The report, parsed, made off the main thread. */
export function report(): Promise<Report>;
/** The report, parsed, blocking this thread for about 50 ms. */
export function reportSync(): Report;
