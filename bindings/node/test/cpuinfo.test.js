'use strict';
// The installed package against a C program linked to the module it carries
// (VELQUORN_TEST_C_HOST, bindings/tests/answers.c). Run by CTest with `node
// --test` from a project into which the .tgz was installed.
const assert = require('node:assert/strict');
const { execFileSync } = require('node:child_process');
const test = require('node:test');
const { Worker } = require('node:worker_threads');
const cpuinfo = require('velquorn-cpuinfo');

const CPUID_MEMBERS = ['vendor', 'brand', 'family', 'model', 'stepping', 'l1d_kb', 'l1i_kb',
                       'l2_kb', 'l3_kb', 'max_mhz', 'features', 'hypervisor', 'x64',
                       'physical_cores', 'logical_cores'];
const NO_INTERVAL = -1;
const NO_RATE = -2147483648;

function cHost() {
  const host = process.env.VELQUORN_TEST_C_HOST;
  assert.ok(host, 'VELQUORN_TEST_C_HOST is not set: run this file through CTest');
  const out = execFileSync(host, { input: cpuinfo.FEATURES.join('\n') + '\n', encoding: 'utf8' });
  const answers = { has: {} };
  for (const line of out.split('\n').filter(Boolean)) {
    const [key, ...rest] = line.replace(/\r$/, '').split('\t');
    if (key === 'has') answers.has[rest[0]] = Number(rest[1]);
    else answers[key] = rest.join('\t');
  }
  answers.report = JSON.parse(answers.report);
  return answers;
}
const c = cHost();

// Clocks agree when both failed the same way or are within a fifth of each other.
function sameKindOfClock(ours, theirs) {
  if ([ours, theirs].some((v) => v === NO_INTERVAL || v === NO_RATE)) return ours === theirs;
  return ours > 0 && theirs > 0 && Math.abs(ours - theirs) <= theirs / 5;
}

function assertWholeReport(report) {
  assert.deepEqual(Object.keys(report), Object.keys(c.report));
  for (const key of CPUID_MEMBERS) assert.deepEqual(report[key], c.report[key], key);
  assert.ok(Number.isInteger(report.base_mhz) && report.base_mhz >= 0);
  assert.ok(sameKindOfClock(report.current_mhz, c.report.current_mhz),
            `${report.current_mhz} MHz, the C program measured ${c.report.current_mhz}`);
}

test('the answers equal the C program\'s, through both entries', async () => {
  const esm = await import('velquorn-cpuinfo');
  for (const api of [cpuinfo, esm]) {
    assert.equal(api.version(), c.version);
    assert.equal(api.lastError(), c.last_error);
    assert.equal(api.logicalCores(), Number(c.logical_cores));
    assert.ok(Object.isFrozen(api.FEATURES));
    assert.deepEqual([...api.FEATURES], Object.keys(c.has));
    assert.equal(new Set(api.FEATURES).size, 21);
    for (const name of api.FEATURES) {
      assert.ok(c.has[name] === 0 || c.has[name] === 1, name);
      assert.equal(api.hasFeature(name), c.has[name] === 1, name);
    }
    assertWholeReport(api.reportSync());
    assertWholeReport(await api.report());
    const text = await api.reportJson();
    assert.equal(JSON.stringify(JSON.parse(text)), text);
    assert.equal(typeof api.reportJsonSync(), 'string');
    assert.ok(sameKindOfClock(await api.currentMhz(), Number(c.current_mhz)));
    assert.ok(sameKindOfClock(api.currentMhzSync(), Number(c.current_mhz)));
  }
  assert.deepEqual(c.report.features, cpuinfo.FEATURES.filter(
    (n) => c.has[n] === 1 && n !== 'hypervisor' && n !== 'x64'));
});

test('bad names throw', () => {
  for (const name of [undefined, null, 1, true, {}, ['sse'], Buffer.from('sse')]) {
    assert.throws(() => cpuinfo.hasFeature(name), TypeError, String(name));
  }
  for (const name of ['', 'SSE', 'Sse2', 'avx3', ' sse', 'sse2 ', 'x86-64', 'sse\0',
                      'avx2\0avx3', 'sse\udc80', 'sse\u00b2', 'sse2'.repeat(40)]) {
    assert.throws(() => cpuinfo.hasFeature(name), (err) => err instanceof RangeError &&
                  err.message.includes(JSON.stringify(name)) && err.message.includes('avx512f'));
  }
});

test('an asynchronous report lets timers run', async () => {
  // A report made on the main thread would settle before these callbacks.
  const order = [];
  setImmediate(() => order.push('immediate'));
  setTimeout(() => order.push('timer'), 1);
  const [report] = await Promise.all([cpuinfo.report(), cpuinfo.currentMhz()]);
  order.push('report');
  assertWholeReport(report);
  assert.deepEqual(order, ['immediate', 'timer', 'report']);
});

test('worker threads and concurrent Promises get whole reports', async () => {
  const code = `const { parentPort, workerData } = require('node:worker_threads');
    const cpuinfo = require(workerData);
    (async () => {
      const texts = [];
      for (let i = 0; i < 5; i++) texts.push(cpuinfo.reportJsonSync(), await cpuinfo.reportJson());
      parentPort.postMessage(texts);
    })();`;
  const workers = Array.from({ length: 4 }, () => new Promise((resolve, reject) => {
    const workerData = require.resolve('velquorn-cpuinfo');
    const worker = new Worker(code, { eval: true, workerData });
    worker.once('message', resolve);
    worker.once('error', reject);
  }));
  const own = Array.from({ length: 10 }, () => cpuinfo.reportJson());
  const texts = [...(await Promise.all(workers)).flat(), ...(await Promise.all(own))];
  assert.equal(texts.length, 50);
  texts.forEach((text) => assertWholeReport(JSON.parse(text)));
});

test('a thousand reports stay whole', async () => {
  const texts = await Promise.all(Array.from({ length: 1000 }, () => cpuinfo.reportJson()));
  texts.forEach((text) => assertWholeReport(JSON.parse(text)));
});
