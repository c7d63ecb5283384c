#!/usr/bin/env node
'use strict';
// velquorn-cpuinfo beside the two most used npm packages for the same job, in
// one run (a script for docs/performance.md, not a test):
//   node bench/node_bench.js --package build/package-node/dist/velquorn-cpuinfo-1.0.0.tgz
//        [--cpuinfo-bench build/bench/bench/cpuinfo-bench] [--rounds 20]
// It installs the .tgz, systeminformation and cpu-features into a temporary
// folder (cpu-features compiles at install: node-gyp, make, a C++ compiler and
// Python; where Debian's node headers exist they are given as --nodedir, so
// node-gyp need not download them), times
//   hasFeature("sse2")  against one CPUID of leaf 1 (cpuinfo-bench's floor),
//   report()            against systeminformation's cpu() + cpuFlags() + cpuCache(),
//   hasFeature("avx2")  against cpu-features' call (its flags.avx2),
// and prints the figures and ratios. A package that cannot install is named
// with npm's reason, and its rows are left out.
const { execFileSync } = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { performance } = require('node:perf_hooks');

function option(name, fallback) {
  const at = process.argv.indexOf(`--${name}`);
  return at > 0 ? process.argv[at + 1] : fallback;
}
const tgz = option('package');
if (!tgz) throw new Error('--package velquorn-cpuinfo-<version>.tgz is needed');
const rounds = Number(option('rounds', 20));
const cpuinfoBench = option('cpuinfo-bench');

const folder = fs.mkdtempSync(path.join(os.tmpdir(), 'velquorn-node-bench-'));
fs.writeFileSync(path.join(folder, 'package.json'), '{"private": true}\n');
const env = { ...process.env, npm_config_update_notifier: 'false' };
if (fs.existsSync('/usr/include/node/node_api.h')) env.npm_config_nodedir = '/usr';
function install(spec) {
  try {
    execFileSync('npm', ['install', '--no-audit', '--no-fund', spec],
                 { cwd: folder, env, stdio: ['ignore', 'pipe', 'pipe'] });
    return require(require.resolve(path.basename(spec).replace(/-\d[\d.]*\.tgz$/, ''),
                                   { paths: [folder] }));
  } catch (err) {
    const reason = String(err.stderr || err.message).split('\n').filter(Boolean).slice(-8);
    console.log(`${spec} did not install:\n  ${reason.join('\n  ')}`);
    return null;
  }
}
const ours = install(path.resolve(tgz));
const si = install('systeminformation');
const cpuFeatures = install('cpu-features');

// Nanoseconds per call of a synchronous function: the median of rounds of n calls.
function perCall(fn, n = 20000) {
  const times = [];
  for (let r = 0; r < rounds; r++) {
    const start = performance.now();
    for (let i = 0; i < n; i++) fn();
    times.push(((performance.now() - start) * 1e6) / n);
  }
  return median(times);
}
// Milliseconds of an asynchronous call: median of rounds, the two sides taking turns.
async function perAsync(fns) {
  const times = fns.map(() => []);
  for (let r = 0; r < rounds; r++) {
    for (const [k, fn] of fns.entries()) {
      const start = performance.now();
      await fn();
      times[k].push(performance.now() - start);
    }
  }
  return times.map(median);
}
function median(values) {
  const sorted = [...values].sort((a, b) => a - b);
  return sorted[Math.floor(sorted.length / 2)];
}
function oneCpuid() {
  if (!cpuinfoBench) return null;
  const out = path.join(folder, 'cpuid.json');
  execFileSync(cpuinfoBench, ['--benchmark_filter=feature_vs_cpuid/sse2', `--benchmark_out=${out}`,
                              '--benchmark_out_format=json'], { stdio: 'ignore' });
  return JSON.parse(fs.readFileSync(out, 'utf8')).benchmarks[0].cpuid_ns;
}

(async () => {
  const rows = [];
  const hasSse2 = perCall(() => ours.hasFeature('sse2'));
  const cpuid = oneCpuid();
  rows.push(['hasFeature("sse2")', `${hasSse2.toFixed(0)} ns`,
             cpuid ? `one CPUID (leaf 1) ${cpuid.toFixed(0)} ns` : 'no --cpuinfo-bench',
             cpuid ? (hasSse2 / cpuid).toFixed(3) : '']);
  if (si) {
    const whole = () => Promise.all([si.cpu(), si.cpuFlags(), si.cpuCache()]);
    await whole();  // systeminformation reads some answers once and keeps them
    const [report, theirs] = await perAsync([() => ours.report(), whole]);
    rows.push(['report()', `${report.toFixed(2)} ms`,
               `systeminformation cpu()+cpuFlags()+cpuCache() ${theirs.toFixed(2)} ms`,
               (report / theirs).toFixed(3)]);
  }
  if (cpuFeatures) {
    const hasAvx2 = perCall(() => ours.hasFeature('avx2'));
    const theirs = perCall(() => cpuFeatures().flags.avx2, 2000);
    rows.push(['hasFeature("avx2")', `${hasAvx2.toFixed(0)} ns`,
               `cpu-features() .flags.avx2 ${theirs.toFixed(0)} ns`,
               (hasAvx2 / theirs).toFixed(3)]);
  }
  const versions = ['velquorn-cpuinfo', 'systeminformation', 'cpu-features'].map((name) => {
    const file = path.join(folder, 'node_modules', name, 'package.json');
    if (!fs.existsSync(file)) return '';
    return `${name} ${JSON.parse(fs.readFileSync(file, 'utf8')).version}`;
  });
  console.log(`Node ${process.version}, ${os.cpus()[0].model}, ${rounds} rounds; ` +
              versions.filter(Boolean).join(', '));
  console.log('| Ours | Time | Against | Ours ÷ against |\n|---|---|---|---|');
  for (const row of rows) console.log(`| ${row.join(' | ')} |`);
  fs.rmSync(folder, { recursive: true, force: true });
})();
