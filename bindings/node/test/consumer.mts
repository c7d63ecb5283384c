// A TypeScript consumer of the ES-module entry: `tsc --noEmit --strict` must
// accept it with the package's declarations (CTest npm_typescript).
import cpuinfo, { FEATURES, hasFeature, report, reportSync, type Report } from 'velquorn-cpuinfo';

const names: readonly string[] = FEATURES;
const avx2: boolean = hasFeature('avx2') && cpuinfo.hasFeature(names[0]);
const whole: Report = reportSync();
const cores: number = whole.physical_cores + whole.l3_kb + whole.current_mhz;
// @ts-expect-error: a name is a string
hasFeature(2);
// @ts-expect-error: FEATURES is read-only
FEATURES.push('avx3');
export async function describe(): Promise<string> {
  const r = await report();
  const mhz: number = await cpuinfo.currentMhz();
  return `${r.vendor} ${r.brand} ${r.features.join(' ')} ${avx2} ${cores} ${mhz}`;
}
