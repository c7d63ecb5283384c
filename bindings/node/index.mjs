// The ES-module entry: the CommonJS module's functions as named exports.
import cpuinfo from './index.js';

export const {
  FEATURES, version, lastError, logicalCores, hasFeature, currentMhz, currentMhzSync,
  reportJson, reportJsonSync, report, reportSync,
} = cpuinfo;
export default cpuinfo;
