'use strict';
// velquorn-cpuinfo: describes the processor this program runs on, through the
// velquorn-cpuid-cpu-info module that prebuilds/<platform>-<arch>/ carries
// beside the Node-API addon that calls it. Nothing is compiled at install.

const path = require('path');

// The feature names that hasFeature() knows, in the order of the report's
// "features" member ("hypervisor" and "x64" have members of their own).
const FEATURES = Object.freeze([
  'sse', 'sse2', 'htt', 'sse3', 'ssse3', 'fma', 'sse41', 'sse42', 'popcnt', 'aes', 'avx',
  'f16c', 'rdrand', 'hypervisor', 'bmi1', 'avx2', 'bmi2', 'rdseed', 'sha', 'avx512f', 'x64',
]);

const PLATFORMS = ['linux-x64', 'win32-x64'];

function loadAddon() {
  const platform = `${process.platform}-${process.arch}`;
  if (!PLATFORMS.includes(platform)) {
    const error = new Error(`velquorn-cpuinfo has no prebuilt addon for ${platform}; ` +
                            `it carries ${PLATFORMS.join(' and ')}`);
    error.code = 'VELQUORN_UNSUPPORTED_PLATFORM';
    throw error;
  }
  return require(path.join(__dirname, 'prebuilds', platform, 'velquorn_cpuinfo.node'));
}

const addon = loadAddon();

/** The module's version, "1.0.0". */
function version() {
  return addon.version();
}

/** The module's last-error text (the empty string). */
function lastError() {
  return addon.lastError();
}

/** The number of logical processors that the operating system reports. */
function logicalCores() {
  return addon.logicalCores();
}

/** Whether the processor has the feature `name`, one of FEATURES. */
function hasFeature(name) {
  if (typeof name !== 'string') {
    throw new TypeError(`hasFeature: the feature name must be a string, not ${typeof name}`);
  }
  // The module reads a name up to its first NUL: "sse\0x" is not "sse".
  const answer = name.includes('\0') ? -1 : addon.hasFeature(name);
  if (answer < 0) {
    throw new RangeError(`hasFeature: unknown feature name ${JSON.stringify(name)}; ` +
                         `the names are ${FEATURES.join(', ')}`);
  }
  return answer === 1;
}

/** The clock measured over about 50 ms, in MHz, off the main thread. */
function currentMhz() {
  return addon.currentMhz();
}

/** The same measurement, blocking this thread for about 50 ms. */
function currentMhzSync() {
  return addon.currentMhzSync();
}

/** The report as the module's line of JSON, made off the main thread. */
function reportJson() {
  return addon.reportJson();
}

/** The report's line of JSON, blocking this thread for about 50 ms. */
function reportJsonSync() {
  return addon.reportJsonSync();
}

/** The report, parsed, made off the main thread. */
async function report() {
  return JSON.parse(await addon.reportJson());
}

/** The report, parsed, blocking this thread for about 50 ms. */
function reportSync() {
  return JSON.parse(addon.reportJsonSync());
}

module.exports = {
  FEATURES, version, lastError, logicalCores, hasFeature, currentMhz, currentMhzSync,
  reportJson, reportJsonSync, report, reportSync,
};
