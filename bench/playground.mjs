// How fast the playground runs programs: the WebAssembly interpreter in
// the page's worker, in the system's Chromium, against the native
// interpreter of tsumiki on the same programs, and the page's Run button
// on a program of about 10^8 instructions.  bench/playground.sh builds what
// it needs and runs it:
//
//   node playground.mjs NODE_MODULES SITE_DIR TSUMIKI PROGRAMS_DIR [RUNS [ONLY]]
//
// NODE_MODULES holds playwright-core (the web tests' own, tests/web), SITE_DIR
// the built playground, TSUMIKI a release tsumiki (its interpreter is run,
// TSUMIKI_ENGINE=interpreter), PROGRAMS_DIR the benchmark programs with
// their expected outputs; RUNS rounds (default 5), ONLY a comma-separated
// list of program names.
//
// The worker's run is timed twice: by the worker's clock (the `runMs` of
// its `done` message, from the call of the run to its end) and by the CPU
// time of the page's renderer process over the run, which the browser
// reports (SystemInfo.getProcessInfo) and which other work on a shared
// machine disturbs least.  The native runs are timed by their CPU time
// (user + system) and their elapsed time.  The instruction count of each
// program is the one the worker reports (`steps`).  Outputs are compared
// with the expected ones, so that both did the whole work.  Prints Markdown.
import { execFileSync } from 'node:child_process';
import { readFileSync, rmSync, writeFileSync } from 'node:fs';
import { createRequire } from 'node:module';
import { join, resolve } from 'node:path';

import { serve } from '../tests/web/browser.mjs';

const [runsArg, onlyArg] = process.argv.slice(6);
const [modulesDir, siteDir, tsumiki, programsDir] = process.argv.slice(2, 6).map((path) => resolve(path));
if (process.argv.length < 6) {
  console.error('usage: node playground.mjs NODE_MODULES SITE_DIR TSUMIKI PROGRAMS_DIR [RUNS [ONLY]]');
  process.exit(2);
}
const { chromium } = createRequire(join(modulesDir, 'package.json'))('playwright-core');
const RUNS = Number(runsArg ?? 5);
const NAMES = onlyArg ? onlyArg.split(',') : ['loops', 'fib', 'sieve', 'sort'];

// The Run button's program: a loop of 23 instructions a turn, 4,347,826
// turns (100,000,021 instructions in all), a line of output every million.
const BIG = `program count;
var i, s;
begin
  i := 0;
  s := 0;
  while i < 4347826 do
  begin
    s := s + i;
    if i - i div 1000000 * 1000000 = 0 then write(i);
    i := i + 1
  end;
  write(s)
end.
`;

// Where the native runs' output goes, and the big program as a file.
const tmp = process.env.TMPDIR ?? '/tmp';
const outPath = join(tmp, `tsumiki-playspeed-${process.pid}.out`);
const bigPath = join(tmp, `tsumiki-playspeed-${process.pid}.tsu`);
writeFileSync(bigPath, BIG);

const median = (xs) => {
  const s = [...xs].sort((a, b) => a - b);
  const m = s.length >> 1;
  return s.length % 2 ? s[m] : (s[m - 1] + s[m]) / 2;
};

// One native run of the interpreter: its CPU and elapsed seconds, and its
// output.
function runNative(source) {
  const script = 'TIMEFORMAT="%R %U %S"; { time TSUMIKI_ENGINE=interpreter "$0" "$1" >"$2"; } 2>&1';
  const times = execFileSync('bash', ['-c', script, tsumiki, source, outPath], { encoding: 'utf8' });
  const [real, user, system] = times.trim().split(/\s+/).map(Number);
  const output = readFileSync(outPath, 'utf8');
  return { cpu: user + system, wall: real, output };
}

const server = await serve(siteDir);
const origin = `http://127.0.0.1:${server.address().port}/`;
const browser = await chromium.launch({
  executablePath: '/usr/bin/chromium',
  args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
    '--disable-background-networking', '--disable-component-update', '--disable-sync'],
});
const cdp = await browser.newBrowserCDPSession();
const page = await browser.newPage();
page.on('pageerror', (error) => console.error(`page error: ${error}`));

// The CPU seconds the renderer processes have used so far.
async function rendererCpu() {
  const { processInfo } = await cdp.send('SystemInfo.getProcessInfo');
  return processInfo.filter((p) => p.type === 'renderer').reduce((sum, p) => sum + p.cpuTime, 0);
}

await page.goto(`${origin}index.html`);
await page.waitForFunction(() => document.body.dataset.state === 'ready');
// A worker of the page's own, beside the page's: it runs what it is sent
// as the page's does, and its messages come back here whole.
await page.evaluate(async () => {
  const worker = new Worker('worker.js');
  await new Promise((resolve) => {
    worker.onmessage = (event) => event.data.type === 'ready' && resolve();
    window.tsumikiStart.module.then((module) => worker.postMessage({ type: 'init', module }));
  });
  window.benchRun = (source) =>
    new Promise((resolve) => {
      let output = '';
      worker.onmessage = ({ data }) => {
        if (data.type === 'text' && data.pane === 'output') output += data.text;
        if (data.type === 'done') resolve({ ...data, output });
      };
      worker.postMessage({ type: 'run', source, input: '', trace: false, check: false });
    });
});

async function runWasm(source) {
  const before = await rendererCpu();
  const done = await page.evaluate((s) => window.benchRun(s), source);
  const cpu = (await rendererCpu()) - before;
  if (done.end !== 'halted') throw new Error(`the worker's run ended ${done.end}: ${done.message}`);
  return { cpu, wall: (done.runMs ?? done.ms) / 1000, steps: done.steps, output: done.output };
}

const samples = Object.fromEntries(NAMES.map((n) => [n, { native: [], wasm: [], nativeWall: [], wasmWall: [] }]));
const steps = {};
for (let round = 0; round < RUNS; round++) {
  for (const [i, name] of NAMES.entries()) {
    const path = join(programsDir, `${name}.tsu`);
    const expected = readFileSync(join(programsDir, `${name}.out`), 'utf8');
    const source = readFileSync(path, 'utf8');
    // Each round in the other order.
    const order = (round + i) % 2 === 0 ? ['native', 'wasm'] : ['wasm', 'native'];
    for (const which of order) {
      const r = which === 'native' ? runNative(path) : await runWasm(source);
      if (r.output !== expected) throw new Error(`${name}: the ${which} run's output is not ${name}.out`);
      samples[name][which].push(r.cpu);
      process.stderr.write(`round ${round + 1}/${RUNS}: ${name} ${which} ${r.cpu.toFixed(2)} s CPU, ${r.wall.toFixed(2)} s elapsed\n`);
      samples[name][`${which}Wall`].push(r.wall);
      if (r.steps !== undefined) steps[name] = r.steps;
    }
  }
}

const M = (n) => (n / 1e6).toFixed(0);
console.log(`Medians of ${RUNS} runs; M/s: millions of instructions a second of CPU time (elapsed time in parentheses).\n`);
console.log('| program | instructions | native interpreter, M/s | playground worker, M/s | native / worker |');
console.log('|---|---:|---:|---:|---:|');
const ratios = [];
for (const name of NAMES) {
  const n = steps[name];
  const s = samples[name];
  const nat = n / median(s.native);
  const wasm = n / median(s.wasm);
  ratios.push(nat / wasm);
  console.log(`| ${name} | ${n === undefined ? '?' : n.toLocaleString('en')} | ${M(nat)} (${M(n / median(s.nativeWall))}) | ` +
    `${M(wasm)} (${M(n / median(s.wasmWall))}) | ${(nat / wasm).toFixed(2)} |`);
}
const geo = Math.exp(ratios.reduce((a, r) => a + Math.log(r), 0) / ratios.length);
console.log(`| geometric mean | | | | ${geo.toFixed(2)} |\n`);

// The Run button on the big program, in the page itself (trace on, as the
// page starts): from the click to the finished output, by the page's clock.
const bigSteps = (await page.evaluate((s) => window.benchRun(s), BIG)).steps;
const bigExpected = runNative(bigPath).output;
const clicks = [];
for (let round = 0; round < RUNS; round++) {
  await page.goto('about:blank');
  await page.goto(`${origin}index.html#code=${Buffer.from(BIG, 'utf8').toString('base64url')}&input=`);
  await page.waitForFunction(() => document.body.dataset.state === 'ready');
  const ms = await page.evaluate(
    () =>
      new Promise((resolve) => {
        const started = performance.now();
        new MutationObserver(() => {
          if (document.body.dataset.state === 'done') resolve(performance.now() - started);
        }).observe(document.body, { attributes: true, attributeFilter: ['data-state'] });
        document.getElementById('run').click();
      }),
  );
  const output = await page.$eval('#output', (e) => e.textContent);
  if (output !== bigExpected) throw new Error("the Run button's output is not the native run's");
  clicks.push(ms);
}
const clickMs = median(clicks);
console.log(`Run button, trace on, ${bigSteps.toLocaleString('en')} instructions: ${(clickMs / 1000).toFixed(2)} s ` +
  `from the click to the finished output (median of ${RUNS}; ${M(bigSteps / (clickMs / 1000))} M/s)`);

await browser.close();
server.close();
rmSync(outPath, { force: true });
rmSync(bigPath, { force: true });
