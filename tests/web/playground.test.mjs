// The playground in a real browser: the system's Chromium, driven by
// playwright-core, loads the built site from a local server and is used as
// a learner would use it.
//
//   node playground.test.mjs NODE_MODULES SITE_DIR EXAMPLES_DIR SCREENSHOT
import assert from 'node:assert/strict';
import { mkdtempSync, readFileSync, readdirSync, rmSync, existsSync } from 'node:fs';
import { createServer } from 'node:http';
import { createRequire } from 'node:module';
import { tmpdir } from 'node:os';
import { extname, join, normalize } from 'node:path';

const [modulesDir, siteDir, examplesDir, screenshotPath] = process.argv.slice(2);
const { chromium } = createRequire(join(modulesDir, 'package.json'))('playwright-core');

const TYPES = {
  '.html': 'text/html; charset=utf-8',
  '.js': 'text/javascript; charset=utf-8',
  '.css': 'text/css; charset=utf-8',
  '.wasm': 'application/wasm',
};

// Serves the site folder, and nothing else, on a free port.
function serve() {
  const server = createServer((request, response) => {
    const path = normalize(decodeURIComponent(new URL(request.url, 'http://x').pathname));
    const file = join(siteDir, path === '/' ? 'index.html' : path);
    if (!file.startsWith(siteDir) || !existsSync(file)) {
      response.writeHead(404).end();
      return;
    }
    response.writeHead(200, { 'content-type': TYPES[extname(file)] ?? 'application/octet-stream' });
    response.end(readFileSync(file));
  });
  return new Promise((resolve) => server.listen(0, '127.0.0.1', () => resolve(server)));
}

function base64url(text) {
  return Buffer.from(text, 'utf8').toString('base64url');
}

// ONLY=TEXT runs just the checks whose names contain TEXT.
const only = process.env.ONLY ?? '';
const results = [];
async function check(name, fn) {
  if (!name.includes(only)) return;
  try {
    await fn();
    results.push([name, null]);
    console.log(`ok   ${name}`);
  } catch (error) {
    results.push([name, error]);
    console.log(`FAIL ${name}\n${error.stack ?? error}`);
  }
}

const server = await serve();
const origin = `http://127.0.0.1:${server.address().port}/`;
const profile = mkdtempSync(join(tmpdir(), 'tsumiki-chromium-'));
// A fresh profile each time (playwright passes it as --user-data-dir).
const browser = await chromium.launchPersistentContext(profile, {
  executablePath: '/usr/bin/chromium',
  args: [
    '--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
    '--disable-background-networking', '--disable-component-update', '--disable-sync',
  ],
  viewport: { width: 1280, height: 800 },
});
const page = browser.pages()[0] ?? (await browser.newPage());
const pageErrors = [];
page.on('pageerror', (error) => pageErrors.push(error));
// Nothing may come from anywhere but the local server.
const foreign = [];
page.on('request', (request) => {
  if (!request.url().startsWith(origin)) foreign.push(request.url());
});

// Loads the page (with a fragment) and waits until it can run programs.
async function open(fragment = '') {
  await page.goto('about:blank'); // a new fragment alone would not load the page again
  await page.goto(`${origin}index.html${fragment}`);
  await page.waitForFunction(() => ['ready', 'done', 'running'].includes(document.body.dataset.state));
}

async function runAndWait() {
  await page.click('#run');
  await page.waitForFunction(() => document.body.dataset.state === 'done');
}

async function typeProgram(source, input = '') {
  await open(`#code=${base64url(source)}&input=${base64url(input)}`);
}

const text = (selector) => page.$eval(selector, (e) => e.textContent);

// The line and column (from 1, counting characters) of the error mark.
function markPlace() {
  return page.$eval('.error-mark', (mark) => {
    const line = mark.closest('.cm-line');
    const lines = [...line.parentElement.querySelectorAll('.cm-line')];
    const range = document.createRange();
    range.setStart(line, 0);
    range.setEndBefore(mark);
    return { line: lines.indexOf(line) + 1, column: [...range.toString()].length + 1, text: mark.textContent };
  });
}

await check('the page loads and gets ready to run', async () => {
  const started = Date.now();
  await open();
  console.log(`     ready after ${Date.now() - started} ms`);
});

const examples = readdirSync(examplesDir).filter((f) => f.endsWith('.tsu')).map((f) => f.slice(0, -4)).sort();
const timings = [];
for (const name of examples) {
  await check(`example ${name} prints ${name}.out`, async () => {
    await open();
    await page.selectOption('#examples', name);
    await runAndWait();
    assert.equal(await text('#output'), readFileSync(join(examplesDir, `${name}.out`), 'utf8'));
    assert.ok((await text('#listing')).includes('HLT'), 'the listing is shown');
    assert.notEqual(await text('#trace'), '', 'the trace is shown');
    assert.equal(await page.$eval('#error', (e) => e.hidden), true);
    timings.push(`${name} ${Number(await page.$eval('body', (b) => b.dataset.ms)).toFixed(1)} ms`);
  });
}
console.log(`     compile + run with trace: ${timings.join(', ')}`);

await check('a syntax error is shown and marked at its line and column', async () => {
  await typeProgram('program p;\nvar x;\nbegin\n  x := 1;\n  y := 2\nend.\n');
  await runAndWait();
  assert.match(await text('#error'), /^構文エラー: /);
  assert.deepEqual(await markPlace(), { line: 5, column: 3, text: 'y' });
  assert.equal(await text('#listing'), '');
});

await check('a lexical error marks the whole character that is no token', async () => {
  await typeProgram('program p;\nvar x;\nbegin\n  x := 1 日本\nend.\n');
  await runAndWait();
  assert.match(await text('#error'), /^字句エラー: /);
  assert.deepEqual(await markPlace(), { line: 4, column: 10, text: '日' });
});

await check('a run-time error keeps the output and marks its statement', async () => {
  await typeProgram('program p;\nvar x;\nbegin\n  write(1);\n  x := 0;\n  write(1 div x)\nend.\n');
  await runAndWait();
  assert.equal(await text('#output'), '1\n');
  assert.match(await text('#error'), /^実行中にエラーがおきました: /);
  assert.equal((await markPlace()).line, 6);
});

await check('a read past the end of the input ends the run with its error', async () => {
  await typeProgram('program p;\nvar x;\nbegin\n  read(x);\n  read(x)\nend.\n', '5');
  await runAndWait();
  assert.equal(await text('#error'), '実行中にエラーがおきました: 数が読み込めませんでした\n');
});

await check('a program nested too deeply is an error marked at its place, and the page goes on', async () => {
  // 666 pairs of parentheses are as deep as the page lets a program nest
  // (the browser's own stack would run out at about 2,000).
  await typeProgram(`program p;\nvar x;\nbegin\n  x := ${'('.repeat(666)}7${')'.repeat(666)};\n  write(x)\nend.\n`);
  await runAndWait();
  assert.equal(await text('#output'), '7\n');
  // The mark is on the token the parser stood at when it went too deep.
  for (const [depth, at] of [[667, '1'], [3000, '('], [200000, '(']]) {
    await typeProgram(`program p;\nvar x;\nbegin\n  x := ${'('.repeat(depth)}1${')'.repeat(depth)}\nend.\n`);
    await runAndWait();
    assert.equal(await text('#error'), '構文エラー: 入れ子が深すぎます\n');
    const mark = await markPlace();
    assert.equal(mark.line, 4);
    assert.equal(mark.text, at);
  }
  // Statements nest by the same measure.
  await typeProgram(`program p;\nvar x;\nbegin\n${'  if 1 = 1 then\n'.repeat(3000)}  x := 1\nend.\n`);
  await runAndWait();
  assert.equal(await text('#error'), '構文エラー: 入れ子が深すぎます\n');
  // (CodeMirror draws only the lines in view, so the mark's line number
  // cannot be read off the page here: its text is, the condition's first token.)
  assert.equal((await markPlace()).text, '1');
  await page.selectOption('#examples', 'hello');
  await runAndWait();
  assert.equal(await text('#output'), readFileSync(join(examplesDir, 'hello.out'), 'utf8'));
});

await check('a program that prints and then loops shows its output, its whole listing and its trace before Stop', async () => {
  // 100 lines, then a loop that never ends and prints nothing more.
  await typeProgram('program p;\nvar x, y;\nbegin\n  x := 1;\n  while x <= 100 do\n  begin\n    write(x);\n'
    + '    x := x + 1\n  end;\n  y := 0;\n  while 0 = 0 do\n    y := 1 - y\nend.\n');
  await page.click('#run');
  const clicked = Date.now();
  const lines = Array.from({ length: 100 }, (_, i) => `${i + 1}\n`).join('');
  const soon = { timeout: 10000 };
  await page.waitForFunction((want) => document.getElementById('output').textContent === want, lines, soon);
  console.log(`     the output was shown ${Date.now() - clicked} ms after Run`);
  // The whole listing, every instruction up to the HLT and the closing rule.
  await page.waitForFunction(() => document.getElementById('listing').textContent.endsWith('------------------\n\n'),
    null, soon);
  const listing = await text('#listing');
  const numbers = [...listing.matchAll(/^(\d+): /gm)].map((m) => Number(m[1]));
  assert.deepEqual(numbers, numbers.map((_, i) => i));
  assert.match(listing, new RegExp(`^${numbers.length - 1}: HLT\\(0,0\\)$`, 'm'));
  // The trace: its first 2000 lines, then the mark that the rest is left out.
  await page.waitForFunction(() => document.getElementById('trace').textContent.endsWith('\n...\n'), null, soon);
  const trace = (await text('#trace')).split('\n');
  assert.equal(trace.length, 2000 + 2, 'the trace has its 2000 lines and the mark');
  assert.equal(trace[0], 'p = 0: b = 0: t = 0');
  assert.equal(await page.$eval('body', (b) => b.dataset.state), 'running');
  const started = Date.now();
  await page.click('#stop');
  await page.waitForFunction(() => document.body.dataset.state === 'stopped');
  console.log(`     stopped after ${Date.now() - started} ms`);
  assert.equal(await text('#output'), lines);
  // The page goes on working with a fresh worker.
  await page.selectOption('#examples', 'hello');
  await runAndWait();
  assert.equal(await text('#output'), readFileSync(join(examplesDir, 'hello.out'), 'utf8'));
});

await check('100 lines written before a long computation are all shown while it goes on', async () => {
  // 100 lines, then 72 million instructions of arithmetic (a few seconds), then the end.
  await typeProgram('program p;\nvar i;\nbegin\n  i := 1;\n  while i <= 100 do begin write(i); i := i + 1 end;\n'
    + '  i := 0;\n  while i < 8000000 do i := i + 1\nend.\n');
  await page.uncheck('#trace-on');
  await page.click('#run');
  const lines = Array.from({ length: 100 }, (_, i) => `${i + 1}\n`).join('');
  await page.waitForFunction((want) => document.getElementById('output').textContent === want, lines, { timeout: 20000 });
  const state = await page.$eval('body', (b) => b.dataset.state);
  await page.waitForFunction(() => document.body.dataset.state === 'done', null, { timeout: 60000 });
  console.log(`     the computation took ${Number(await page.$eval('body', (b) => b.dataset.ms)).toFixed(0)} ms`);
  assert.equal(state, 'running', 'the lines were shown before the end of the run');
});

await check('a program that prints for ever fills its pane up to the cap, and Stop ends it', async () => {
  await typeProgram('program p;\nvar x;\nbegin\n  x := 0;\n  while 0 = 0 do\n  begin write(x); x := x + 1 end\nend.\n');
  await page.click('#run');
  // The pane fills up to its cap and says so, while the page stays responsive.
  await page.waitForFunction(() => document.getElementById('output').textContent.includes('the rest is not shown'),
    null, { timeout: 20000 });
  const length = await page.$eval('#output', (e) => e.textContent.length);
  assert.ok(length <= (1 << 20) + 100, `the output pane holds ${length} characters`);
  assert.equal(await page.$eval('body', (b) => b.dataset.state), 'running');
  await page.click('#stop');
  await page.waitForFunction(() => document.body.dataset.state === 'stopped');
  await page.selectOption('#examples', 'hello');
  await runAndWait();
  assert.equal(await text('#output'), readFileSync(join(examplesDir, 'hello.out'), 'utf8'));
});

await check('the page fits the screen: nothing scrolls sideways from 1366 pixels wide, one column at 390', async () => {
  // An array of 300 cells makes every trace line far wider than any screen,
  // and the source has one long line.
  const wide = `program p;\nvar a[1..300], i;\nbegin\n  i := 1;${' i := i + 0;'.repeat(40)}\n`
    + '  while i <= 300 do begin a[i] := 1000000 * i; i := i + 1 end;\n  write(a[300])\nend.\n';
  const sideways = () => page.evaluate(() => document.documentElement.scrollWidth - document.documentElement.clientWidth);
  try {
    for (const [width, height] of [[1366, 768], [1920, 1080], [2560, 1440]]) {
      await page.setViewportSize({ width, height });
      await typeProgram(wide);
      await runAndWait();
      assert.equal(await sideways(), 0, `nothing scrolls sideways at ${width}x${height}`);
      // Side by side: the program on the left, the output on the right.
      const program = await page.locator('#editor').boundingBox();
      const output = await page.locator('#output').boundingBox();
      assert.ok(output.x >= program.x + program.width, 'the output stands right of the program');
    }
    await page.setViewportSize({ width: 390, height: 844 });
    await typeProgram(wide);
    await runAndWait();
    assert.equal(await sideways(), 0, 'nothing scrolls sideways at 390 pixels');
    // The panes one above the other, each within the screen's width.
    let bottom = 0;
    for (const pane of ['#editor', '#input', '#output', '#listing', '#trace']) {
      const box = await page.locator(pane).boundingBox();
      assert.ok(box.y >= bottom, `${pane} stands below the pane before it`);
      assert.ok(box.x >= 0 && box.x + box.width <= 390, `${pane} lies within the screen's width`);
      assert.ok(box.height >= 60, `${pane} is tall enough to use`);
      bottom = box.y + box.height;
    }
    // Every control can be reached and used: an endless program runs, and
    // Stop ends it.
    await page.locator('#examples').selectOption('hello');
    for (const control of ['#examples', '#trace-on', '#input', '#run']) {
      const box = await page.locator(control).boundingBox();
      assert.ok(box.x >= 0 && box.x + box.width <= 390, `${control} lies within the screen's width`);
      await page.locator(control).click({ trial: true });
    }
    await typeProgram('program p;\nbegin\n  while 0 = 0 do\nend.\n');
    await page.locator('#run').click();
    await page.waitForFunction(() => document.body.dataset.state === 'running');
    await page.locator('#stop').click();
    await page.waitForFunction(() => document.body.dataset.state === 'stopped');
    await page.screenshot({ path: screenshotPath.replace(/\.png$/, '-390.png'), fullPage: true });
  } finally {
    await page.setViewportSize({ width: 1280, height: 800 });
  }
});

await check('the fragment holds the program and its input, and `run` runs it', async () => {
  const source = 'program p;\nvar x;\nbegin\n  read(x);\n  write(x * 2)\nend.\n';
  await open(`#code=${base64url(source)}&input=${base64url('21')}&run`);
  await page.waitForFunction(() => document.body.dataset.state === 'done');
  assert.match(await text('#output'), /42\n$/);
  await page.fill('#input', '5');
  await page.waitForFunction(() => location.hash.includes('input=NQ'));
  const hash = new URLSearchParams((await page.evaluate(() => location.hash)).slice(1));
  assert.equal(Buffer.from(hash.get('code'), 'base64url').toString('utf8'), source);
  assert.equal(hash.has('run'), false);
});

await check('a screenshot shows a program, its output and its listing', async () => {
  await open();
  await page.selectOption('#examples', 'stats');
  await runAndWait();
  await page.screenshot({ path: screenshotPath });
});

await check('nothing was fetched from elsewhere and the page raised no error', async () => {
  assert.deepEqual(foreign, []);
  assert.deepEqual(pageErrors.map(String), []);
});

await browser.close();
server.close();
rmSync(profile, { recursive: true, force: true });
const failed = results.filter(([, error]) => error !== null).length;
console.log(`${results.length - failed} passed, ${failed} failed`);
process.exit(failed === 0 ? 0 : 1);
