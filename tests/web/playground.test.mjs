// The playground in a real browser: the system's Chromium, driven by
// playwright-core, loads the built site from a local server and is used as
// a learner would use it.
//
//   node playground.test.mjs NODE_MODULES SITE_DIR EXAMPLES_DIR SCREENSHOT [ANSWERS [COMPILE_ANSWERS]]
//
// ANSWERS is what terminal.mjs wrote: the terminal debugger's stops for the
// walks the page takes through the examples (without it, those are skipped);
// COMPILE_ANSWERS what compile_terminal.mjs wrote, the same for the Compile
// view (compile_view.test.mjs).
import assert from 'node:assert/strict';
import { mkdirSync, readFileSync, readdirSync, statSync } from 'node:fs';
import { join } from 'node:path';

import { check, finish, launch, serve } from './browser.mjs';
import { compileViewChecks } from './compile_view.test.mjs';

const [modulesDir, siteDir, examplesDir, screenshotPath, answersPath, compileAnswersPath] = process.argv.slice(2);

function base64url(text) {
  return Buffer.from(text, 'utf8').toString('base64url');
}

const server = await serve(siteDir);
const origin = `http://127.0.0.1:${server.address().port}/`;
const { page, pageErrors, close } = await launch(modulesDir, 'tsumiki-chromium', { width: 1280, height: 800 });
// Nothing may come from anywhere but the local server.
const foreign = [];
page.on('request', (request) => {
  if (!request.url().startsWith(origin)) foreign.push(request.url());
});

// Loads the page (with a fragment) and waits until it can run programs.
async function open(fragment = '') {
  await page.goto('about:blank'); // a new fragment alone would not load the page again
  await page.goto(`${origin}index.html${fragment}`);
  await page.waitForFunction(() => ['ready', 'done', 'running', 'debugging', 'debug-ended', 'compiling'].includes(document.body.dataset.state));
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

// How soon the page is usable, as a figure for the log, never an assertion
// on time: from the start of the navigation (the page's own clock) to ready
// to run, and to a debugging session from the address stopped and drawn.
await check('the page records how soon it is usable after loading', async () => {
  await open();
  const ready = await page.evaluate(() => performance.now());
  const source = readFileSync(join(examplesDir, 'nested.tsu'), 'utf8');
  await open(`#code=${base64url(source)}&input=&debug`);
  await page.waitForFunction(() => document.body.dataset.debug === 'stopped' && document.querySelector('#stack .frame'));
  const drawn = await page.evaluate(() => performance.now());
  console.log(`     usable after loading: ready to run at ${ready.toFixed(0)} ms, debugger stopped and drawn at ${drawn.toFixed(0)} ms`);
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

await check('the error box gives the line, the column and the hint that check gives', async () => {
  await typeProgram('program p;\nvar x;\nbegin\n  x := 1;\n  y := 2\nend.\n');
  await runAndWait();
  // The message without the empty line that ends it on standard output.
  assert.equal(await text('#error-message'), '構文エラー: 宣言されていない識別子の使用(k)');
  assert.equal(await text('#error-place'), '5行 3列 / line 5, column 3');
  assert.equal(await text('#error-hint'), 'ヒント: 宣言されていない名前: y');
  // A run-time error has its place but no hint.
  await typeProgram('program p;\nvar x;\nbegin\n  x := 0;\n  write(1 div x)\nend.\n');
  await runAndWait();
  assert.equal(await text('#error-place'), '5行 11列 / line 5, column 11');
  assert.equal(await text('#error-hint'), '');
  // An endless recursion: the overflow at its call, and the hint.
  await typeProgram('program p;\nprocedure f(x);\nbegin\n  f(x - 1)\nend;\nbegin\n  f(3)\nend.\n');
  await runAndWait();
  assert.equal(await text('#error-message'), '実行中にエラーがおきました: スタックオーバフロー');
  assert.equal(await text('#error-place'), '4行 3列 / line 4, column 3');
  assert.match(await text('#error-hint'), /^ヒント: 再帰呼び出しが終わらないのかもしれません。スタックがあふれたとき、呼び出しの深さは \d+ でした$/);
});

await check('a program that compiles shows its warnings, and a correct one none', async () => {
  await typeProgram('program p;\nprocedure show(a);\nvar l;\nbegin\n  write(l)\nend;\nbegin\n  show(1, 99)\nend.\n');
  await runAndWait();
  assert.equal(await text('#output'), '99\n');
  assert.equal(await text('#warnings'),
    '5:9: 警告: 変数 l の値を読んでいますが、l はどこでも代入されていません。その値は、前の呼び出しがそのセルに残したものです\n' +
    '8:11: 警告: 手続き show の引数は1個なのに、2個渡しています。余分な引数は捨てられずに、show の変数 l から順にその初めの値になります\n');
  assert.equal(await page.$eval('#warnings', (e) => e.hidden), false);
  await page.selectOption('#examples', 'sort');
  await runAndWait();
  assert.equal(await page.$eval('#warnings', (e) => e.hidden), true);
});

await check('the check stops at the first index outside its bounds, and leaves a correct run alone', async () => {
  await typeProgram('program p;\nvar a[1..5], i;\nbegin\n  i := 1;\n  while i <= 6 do\n  begin\n    a[i] := i;\n    i := i + 1\n  end;\n  write(i)\nend.\n');
  await page.check('#check-on');
  await runAndWait();
  assert.equal(await text('#error-message'), '検査で実行を止めました: 添字 6 は配列 a[1..5] の範囲の外です');
  assert.deepEqual(await markPlace(), { line: 7, column: 7, text: 'i' });
  assert.match(await text('#status'), /^検査で止めました/);
  await page.uncheck('#check-on');
  await runAndWait();
  assert.equal(await text('#output'), '7\n');
  assert.equal(await page.$eval('#error', (e) => e.hidden), true);
  await page.check('#check-on');
  await page.selectOption('#examples', 'recursion');
  await runAndWait();
  assert.equal(await text('#output'), readFileSync(join(examplesDir, 'recursion.out'), 'utf8'));
  assert.equal(await page.$eval('#error', (e) => e.hidden), true);
  await page.uncheck('#check-on');
});

await check('the listing can show each source line above its instructions', async () => {
  await typeProgram('program p;\nvar i;\nbegin\n  i := 2;\n  while i > 0 do\n    i := i - 1;\n  write(i)\nend.\n');
  await page.check('#source-on');
  await runAndWait();
  // As `tsumiki-inspect list --source` prints it: the lines without code
  // with the next that has some, and the while's line again where the
  // loop goes back to it.
  assert.deepEqual(await page.$$eval('#listing > div', (r) => r.map((e) => e.textContent)), [
    '    1 | program p;', '0: UJP(0,1)', '    2 | var i;', '    3 | begin', '1: ENT(0,3)',
    '    4 |   i := 2;', '2: LDC(0,2)', '3: STR(0,3)',
    '    5 |   while i > 0 do', '4: LOD(0,3)', '5: LDC(0,0)', '6: COP(0,3)', '7: FJP(0,13)',
    '    6 |     i := i - 1;', '8: LOD(0,3)', '9: LDC(0,1)', '10: OPR(0,2)', '11: STR(0,3)',
    '    5 |   while i > 0 do', '12: UJP(0,4)',
    '    7 |   write(i)', '13: LOD(0,3)', '14: PUT(0,0)',
    '    8 | end.', '15: HLT(0,0)',
  ]);
  await page.uncheck('#source-on');
  assert.equal((await page.$$('#listing .src-line')).length, 0);
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
  assert.equal(await text('#error-message'), '実行中にエラーがおきました: 数が読み込めませんでした');
});

await check('each number read is shown after its prompt, marked as input, and the output text stays as it is', async () => {
  const prompt = '数を入力して下さい>';
  const source = 'program p;\nvar x, y;\nbegin\n  read(x);\n  read(y);\n  write(x + y)\nend.\n';
  await typeProgram(source, '5\n10');
  await runAndWait();
  const output = `${prompt}${prompt}15\n`;
  assert.equal(await text('#output'), output);
  assert.equal(await page.$eval('#output', (e) => e.innerText), output);
  // A copy of the whole pane takes what it takes of a pane of the output's
  // text alone (a selection leaves out a block's last line break).
  const [copied, copiedPlain] = await page.evaluate((plain) => {
    const pane = document.getElementById('output');
    const bare = pane.cloneNode(false);
    bare.id = '';
    bare.textContent = plain;
    pane.after(bare);
    const selection = getSelection();
    const taken = [pane, bare].map((e) => {
      selection.selectAllChildren(e);
      return selection.toString();
    });
    selection.removeAllRanges();
    bare.remove();
    return taken;
  }, output);
  assert.equal(copied, copiedPlain);
  assert.ok(copied.startsWith(`${prompt}${prompt}15`), copied);
  const echoes = await page.$$eval('#output span.echo', (spans, before) => spans.map((s) => {
    const drawn = getComputedStyle(s, '::after');
    return [s.dataset.echo, s.title, s.previousSibling.textContent.endsWith(before), drawn.fontStyle, drawn.color !== getComputedStyle(s.parentElement).color];
  }), prompt);
  assert.deepEqual(echoes, [['5', '入力 / input', true, 'italic', true], ['10', '入力 / input', true, 'italic', true]]);
  // Each number ends its line: the second prompt is drawn below the first.
  const [first, second] = await page.$$eval('#output span.echo', (spans) => spans.map((s) => s.getBoundingClientRect().top));
  assert.ok(second > first, `${second} against ${first}`);

  // A read that finds no number shows its prompt and no echo.
  await typeProgram(source, '5');
  await runAndWait();
  assert.equal(await text('#output'), `${prompt}${prompt}`);
  assert.deepEqual(await page.$$eval('#output span.echo', (spans) => spans.map((s) => s.dataset.echo)), ['5']);
  assert.match(await text('#error-message'), /数が読み込めませんでした/);
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
    assert.equal(await text('#error-message'), '構文エラー: 入れ子が深すぎます');
    const mark = await markPlace();
    assert.equal(mark.line, 4);
    assert.equal(mark.text, at);
  }
  // Statements nest by the same measure.
  await typeProgram(`program p;\nvar x;\nbegin\n${'  if 1 = 1 then\n'.repeat(3000)}  x := 1\nend.\n`);
  await runAndWait();
  assert.equal(await text('#error-message'), '構文エラー: 入れ子が深すぎます');
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
  // The whole listing, one row per instruction, drawn before the run went on:
  // numbered from 0 without a gap, up to the closing HLT.
  await page.waitForFunction(() => document.querySelectorAll('#listing .ins').length > 0, null, soon);
  const rows = await page.$$eval('#listing .ins', (r) => r.map((e) => e.textContent));
  assert.deepEqual(rows.map((row) => Number(row.split(':')[0])), rows.map((_, i) => i));
  assert.equal(rows.at(-1), `${rows.length - 1}: HLT(0,0)`);
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
  // 100 lines, then 720 million instructions of arithmetic (a few seconds), then the end.
  await typeProgram('program p;\nvar i;\nbegin\n  i := 1;\n  while i <= 100 do begin write(i); i := i + 1 end;\n'
    + '  i := 0;\n  while i < 80000000 do i := i + 1\nend.\n');
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

// The debugger.  What the page draws at a stop, read back from its hooks.
function drawing() {
  return page.evaluate(() => {
    const stack = document.getElementById('stack');
    return {
      line: Number(document.querySelector('.current-line')?.dataset.line ?? 0),
      pc: Number(document.querySelector('.current-instruction')?.dataset.pc ?? -1),
      registers: [...stack.querySelectorAll('[data-register]')].map((r) => r.textContent).join(' '),
      frames: [...stack.querySelectorAll('.frame')].map((f) =>
        `${f.dataset.routine}@${f.dataset.base}${f.classList.contains('folded') ? ' folded' : ''}`),
      names: Object.fromEntries([...stack.querySelectorAll('.cell:not(.above-t)')]
        .filter((c) => c.dataset.name !== '')
        .map((c) => [`${c.dataset.index}:${c.dataset.name}`, Number(c.dataset.value)])),
      links: [...stack.querySelectorAll('.link')].map((l) => `${l.dataset.kind} ${l.dataset.from}->${l.dataset.to}`),
      changed: [...stack.querySelectorAll('.cell.changed')].map((c) => Number(c.dataset.index)),
      output: document.getElementById('output').textContent,
      reason: document.body.dataset.reason,
    };
  });
}

async function stopped() {
  await page.waitForFunction(() => document.body.dataset.debug === 'stopped', null, { timeout: 20000 });
}

async function press(id) {
  await page.click(`#${id}`);
  await stopped();
}

// A click in the breakpoint gutter beside a line; the lines marked there.
async function clickGutter(line) {
  const box = await page.locator('.cm-lineNumbers .cm-gutterElement', { hasText: new RegExp(`^${line}$`) }).boundingBox();
  const gutter = await page.locator('.cm-breakpoint-gutter').boundingBox();
  await page.mouse.click(gutter.x + gutter.width / 2, box.y + box.height / 2);
}

function gutterMarks() {
  return page.evaluate(() => {
    const numbers = [...document.querySelectorAll('.cm-lineNumbers .cm-gutterElement')];
    return [...document.querySelectorAll('.cm-breakpoint-gutter .cm-gutterElement')]
      .filter((e) => e.style.visibility !== 'hidden' && e.querySelector('.breakpoint'))
      .map((e) => {
        const top = e.getBoundingClientRect().top;
        return Number(numbers.find((n) => Math.abs(n.getBoundingClientRect().top - top) < 2)?.textContent);
      });
  });
}

async function debugProgram(source, input = '', extra = '') {
  await open(`#code=${base64url(source)}&input=${base64url(input)}${extra}`);
  if (!extra.includes('&debug')) await page.click('#debug');
  await stopped();
}

const nested = readFileSync(join(examplesDir, 'nested.tsu'), 'utf8');
const artifacts = join(screenshotPath, '..', 'artifacts');
mkdirSync(artifacts, { recursive: true });

await check('Debug stops at the first statement, with the program frame drawn', async () => {
  await debugProgram(nested);
  const d = await drawing();
  assert.equal(d.line, 24);
  assert.equal(d.pc, 39);
  assert.equal(d.registers, 'p = 39 b = 0 t = 3');
  assert.deepEqual(d.frames, ['nested@0']);
  assert.deepEqual(d.names, { '3:total': 0 });
  assert.deepEqual(d.links, []);
  assert.equal(await page.$eval('#step', (b) => b.disabled), false);
});

// The stops of a session through nested.tsu: frames innermost first, the
// named cells and their values, the links from each frame's cells.
const AT_ADD = {
  line: 7,
  frames: ['add@14', 'addrange@9', 'count@4', 'nested@0'],
  names: { '17:k': 1, '13:hi': 10, '12:lo': 1, '8:calls': 0, '7:n': 10, '3:total': 0 },
  // add's static link leads to count's frame (add is declared in count),
  // its dynamic link to addrange's, which called it.
  links: ['static 14->4', 'dynamic 15->9', 'static 9->4', 'dynamic 10->4', 'static 4->0', 'dynamic 5->0'],
};

await check('step, next, finish and step back walk nested.tsu as the session does', async () => {
  await debugProgram(nested);
  await press('step'); // count(10)
  assert.equal((await drawing()).line, 25);
  await press('step'); // into count: calls := 0
  let d = await drawing();
  assert.equal(d.line, 19);
  assert.deepEqual(d.frames, ['count@4', 'nested@0']);
  await press('next'); // over nothing: addrange(1, n)
  assert.equal((await drawing()).line, 20);
  await press('step'); // into addrange: the while
  await press('step'); // add(lo)
  await press('step'); // into add
  d = await drawing();
  assert.deepEqual({ line: d.line, frames: d.frames, names: d.names, links: d.links },
    { line: AT_ADD.line, frames: AT_ADD.frames, names: AT_ADD.names, links: AT_ADD.links });
  await page.locator('#stack').screenshot({ path: join(artifacts, 'stack-nested.png') });
  await press('finish'); // back in addrange, after the call
  d = await drawing();
  assert.deepEqual(d.frames, ['addrange@9', 'count@4', 'nested@0']);
  assert.equal(d.line, 15);
  assert.equal(d.names['3:total'], 1);
  await press('back'); // to the start of add(lo), over the call
  d = await drawing();
  assert.equal(d.line, 14);
  assert.deepEqual(d.frames, ['addrange@9', 'count@4', 'nested@0']);
  assert.equal(d.names['3:total'], 0, 'the call is taken back');
});

await check('a step back leaves the drawing exactly as it was', async () => {
  await debugProgram(nested, '', '&break=8');
  await press('continue');
  const before = await page.$eval('#stack', (s) => s.innerHTML);
  const first = await drawing();
  for (const [forward, backward] of [['next', 'back'], ['stepi', 'backi']]) {
    await press(forward);
    assert.notEqual(await page.$eval('#stack', (s) => s.innerHTML), before);
    await press(backward);
    assert.equal(await page.$eval('#stack', (s) => s.innerHTML), before, `${forward} then ${backward}`);
  }
  assert.deepEqual(await drawing(), first);
});

// The part of the source marked as what the current instruction computes.
function markedRange() {
  return page.evaluate(() => [...document.querySelectorAll('.current-range')].map((m) => m.textContent).join(''));
}

await check('each instruction marks the part of the source it computes', async () => {
  const source = 'program sum;\nvar total, k;\nbegin\n  total := 0; k := 3;\n  total := total + k * 2;\n  write(total)\nend.\n';
  await debugProgram(source, '', '&break=5');
  await press('continue');
  const marked = [await markedRange()];
  for (let i = 0; i < 5; ++i) {
    await press('stepi');
    marked.push(await markedRange());
  }
  assert.deepEqual(marked, ['total', 'k', '2', 'k * 2', 'total + k * 2', 'total := total + k * 2']);
  assert.equal(await page.$eval('.current-range', (m) => m.dataset.range), '5,3,5,25');
  await press('backi');
  assert.equal(await markedRange(), 'total + k * 2');
});

await check('a breakpoint set in the gutter stops Continue, and goes into the share link', async () => {
  await typeProgram(nested);
  // Line 6 ("begin") has no statement of its own: the breakpoint moves to 7.
  await clickGutter(6);
  await clickGutter(26);
  await page.waitForFunction(() => location.hash.includes('&break=6,26'));
  await page.click('#debug');
  await stopped();
  await page.waitForFunction(() => location.hash.includes('&break=7,26'));
  await press('continue');
  let d = await drawing();
  assert.equal(d.reason, 'breakpoint');
  assert.deepEqual(d.frames, AT_ADD.frames);
  assert.deepEqual(d.names, AT_ADD.names);
  // An instruction breakpoint from the listing: PUT at the end of count.
  await page.click('.ins:has-text("PUT(0,0)") .bp-mark');
  await page.waitForFunction(() => /break=7,26,\*\d+/.test(location.hash));
  await clickGutter(7); // clears it
  await page.waitForFunction(() => /break=26,\*\d+/.test(location.hash));
  await press('continue');
  d = await drawing();
  assert.equal(d.reason, 'breakpoint');
  assert.equal(await page.$eval('.current-instruction', (row) => row.textContent.includes('PUT(0,0)')), true);
  assert.deepEqual(d.frames, ['count@4', 'nested@0']);
  await press('continue');
  d = await drawing();
  assert.equal(d.line, 26, 'on to the line breakpoint');
  assert.equal(d.output, '10\n');
});

await check('the share link brings breakpoints and starts the debugger with &debug', async () => {
  await open(`#code=${base64url(nested)}&input=&break=8&debug`);
  await stopped();
  assert.equal((await drawing()).line, 24);
  await press('continue');
  const d = await drawing();
  assert.equal(d.line, 8);
  assert.equal(d.reason, 'breakpoint');
  assert.deepEqual(await gutterMarks(), [8]);
});

await check('a nested procedure with var parameters: frames, names and arrows', async () => {
  const source = [
    'program vars;', 'var x;',
    'procedure outer(var r);', 'var y;',
    '  procedure inner(var q);', '  begin',
    '    q := q + x;', '    r := r * 2', '  end;',
    'begin', '  y := 5;', '  inner(y);', '  r := r + y', 'end;',
    'begin', '  x := 3;', '  outer(x);', '  write(x)', 'end.', '',
  ].join('\n');
  await debugProgram(source, '', '&break=7');
  await press('continue');
  let d = await drawing();
  assert.deepEqual(d.frames, ['inner@9', 'outer@4', 'vars@0']);
  assert.deepEqual(d.names, { '12:q': 8, '8:y': 5, '7:r': 3, '3:x': 3 });
  assert.deepEqual(d.links.sort(), [
    'dynamic 10->4', 'dynamic 5->0', 'static 4->0', 'static 9->4', 'var 12->8', 'var 7->3',
  ]);
  await page.locator('#stack').screenshot({ path: join(artifacts, 'stack-var-parameters.png') });
  // The names' cells are labelled, the links' are not.
  assert.equal(await page.$eval('.cell[data-index="9"]', (c) => c.dataset.name), '');
  await press('next'); // q := q + x done: y is 8
  d = await drawing();
  assert.equal(d.names['8:y'], 8);
  assert.deepEqual(d.changed, [8], 'the store through q is lit');
  await press('finish');
  await press('next');
  d = await drawing();
  assert.equal(d.names['3:x'], 6 + 8);
});

await check('recursion: frames fold, results are named, and each frame links to its caller', async () => {
  const source = readFileSync(join(examplesDir, 'recursion.tsu'), 'utf8');
  await debugProgram(source, '', '&break=5');
  await press('continue');
  let d = await drawing();
  // fact(10): its frame above the program's cells, n and the result cell named.
  assert.deepEqual(d.frames, ['fact@3', 'recursion@0']);
  assert.deepEqual(d.names, { '7:n': 10, '6:fact': 0 });
  assert.deepEqual(d.links, ['static 3->0', 'dynamic 4->0']);
  for (let k = 0; k < 9; k++) await press('continue');
  d = await drawing();
  // fact(10) down to fact(1): ten frames, the innermost three open.
  assert.equal(d.frames.length, 11);
  assert.deepEqual(d.frames.slice(0, 4), ['fact@57', 'fact@51', 'fact@45', 'fact@39 folded']);
  assert.equal(d.frames[10], 'recursion@0');
  assert.deepEqual(Object.entries(d.names).filter(([k]) => k.endsWith(':n')), [['61:n', 1], ['55:n', 2], ['49:n', 3]]);
  assert.ok(Object.keys(d.names).includes('54:fact'), 'the result cell carries the function name');
  // Every frame's static link leads to the program's, its dynamic link to its caller's.
  assert.deepEqual(d.links, ['static 57->0', 'dynamic 58->51', 'static 51->0', 'dynamic 52->45', 'static 45->0', 'dynamic 46->39']);
  await page.click('.frame[data-base="39"] .frame-head');
  assert.equal(await page.$eval('.frame[data-base="39"]', (f) => f.classList.contains('folded')), false);
  assert.equal(await page.$$eval('.frame[data-base="39"] .cell', (c) => c.length), 6);
  assert.ok((await drawing()).links.includes('dynamic 40->33'), 'an opened frame draws its links');
  await page.locator('#stack').screenshot({ path: join(artifacts, 'stack-recursion.png') });
  await press('finish');
  d = await drawing();
  assert.equal(d.frames[0], 'fact@51');
  assert.equal(d.line, 5);
});

// The page's stops against the terminal debugger's for the same walks:
// the current line, the frames and their order, every named cell and its
// value, and where each static and dynamic link leads.  Folded frames are
// opened first, so every frame's cells and links are drawn.
async function drawnStop() {
  while (await page.$('.frame.folded .frame-head')) await page.click('.frame.folded .frame-head');
  const d = await drawing();
  return { line: d.line, frames: d.frames, names: d.names, links: [...d.links].sort() };
}

for (const walk of answersPath ? JSON.parse(readFileSync(answersPath, 'utf8')) : []) {
  await check(`the page stops as the terminal debugger does: ${walk.name}`, async () => {
    const source = readFileSync(join(examplesDir, `${walk.example}.tsu`), 'utf8');
    await debugProgram(source, '', walk.breaks.length ? `&break=${walk.breaks.join(',')}` : '');
    const presses = ['(start)', ...walk.presses];
    for (let k = 0; k < presses.length; k++) {
      if (k > 0) await press(presses[k]);
      assert.deepEqual(await drawnStop(), walk.stops[k], `stop ${k} (after ${presses.slice(1, k + 1).join(' ') || 'Debug'})`);
    }
  });
}

await check('output follows the history, and a read past the input stops before its error', async () => {
  await debugProgram('program p;\nvar x;\nbegin\n  write(1);\n  read(x);\n  write(x);\n  read(x)\nend.\n', '7');
  await press('next');
  assert.equal((await drawing()).output, '1\n');
  await press('next');
  await press('next');
  assert.match((await drawing()).output, /^1\n.*7\n$/s);
  await press('back');
  await press('back');
  assert.equal((await drawing()).output, '1\n');
  await press('next');
  await press('next');
  await press('next');
  const d = await drawing();
  assert.equal(d.reason, 'error');
  assert.equal(d.line, 7);
  assert.equal(await text('#error'), '実行中にエラーがおきました: 数が読み込めませんでした');
  await press('continue');
  assert.equal((await drawing()).reason, 'exited');
  assert.equal(await page.$eval('#step', (b) => b.disabled), true);
  // The history slider goes back to any step.
  await page.$eval('#history', (slider) => {
    slider.value = '1';
    slider.dispatchEvent(new Event('input'));
  });
  await page.waitForFunction(() => document.body.dataset.position === '1' && document.body.dataset.debug === 'stopped');
  assert.equal((await drawing()).output, '');
});

await check('keys: F11 step, F10 next, Shift+F11 finish, Shift+F10 back, F5 continue', async () => {
  await debugProgram(nested, '', '&break=28');
  await page.click('.cm-content');
  const key = async (name) => {
    await page.keyboard.press(name);
    await stopped();
    return (await drawing()).line;
  };
  assert.equal(await key('F11'), 25);
  assert.equal(await key('F11'), 19);
  assert.equal(await key('F10'), 20);
  assert.equal(await key('Shift+F11'), 26);
  assert.equal(await key('Shift+F10'), 25);
  assert.equal(await key('F5'), 28);
});

await check('Pause stops an endless loop in the debugger, which goes on from there', async () => {
  await debugProgram('program p;\nvar x;\nbegin\n  x := 0;\n  while 0 = 0 do\n    x := x + 1\nend.\n');
  await page.click('#continue');
  await page.waitForFunction(() => document.getElementById('status').textContent.includes('running'));
  assert.equal(await page.$eval('#pause', (b) => b.disabled), false);
  await page.click('#pause');
  await stopped();
  let d = await drawing();
  assert.equal(d.reason, 'paused');
  assert.ok([5, 6].includes(d.line));
  assert.ok(d.names['3:x'] > 1000, `x is ${d.names['3:x']}`);
  await press('stepi');
  assert.equal((await drawing()).reason, 'step');
  await page.click('#stop');
  await page.waitForFunction(() => document.body.dataset.debug === 'off');
});

await check('recursion to the end of the stack stays light to draw and to use', async () => {
  await debugProgram('program deep;\nprocedure down(n);\nbegin\n  down(n + 1)\nend;\nbegin\n  down(0)\nend.\n');
  await press('continue');
  const d = await drawing();
  assert.equal(d.reason, 'error');
  assert.match(await text('#error'), /^実行中にエラーがおきました: /);
  assert.ok(d.frames.length > 200, `${d.frames.length} frames`);
  assert.equal(d.frames.filter((f) => f.endsWith('folded')).length, d.frames.length - 4);
  // Only the open frames' cells are drawn, and only their links.
  const cells = await page.$$eval('#stack .cell', (c) => c.length);
  assert.ok(cells < 40, `${cells} cells drawn`);
  assert.ok(d.links.length <= 8, `${d.links.length} links drawn`);
  await press('back');
  await press('step');
  assert.equal((await drawing()).reason, 'error');
});

await check('source and code point at each other, and an instruction says what it does', async () => {
  await open();
  await page.selectOption('#examples', 'nested');
  await runAndWait();
  await page.hover('.ins[data-pc="4"]');
  assert.deepEqual(await page.$$eval('.cm-line.linked', (l) => l.map((e) => e.textContent.trim())), ['total := total + k;']);
  const line7 = page.locator('.cm-line', { hasText: 'total := total + k' });
  await line7.hover();
  assert.deepEqual(await page.$$eval('.ins.linked', (r) => r.map((e) => Number(e.dataset.pc))), [4, 5, 6, 7]);
  // The instructions of one statement share a hue with its line.
  const hue = await line7.evaluate((l) => [...l.classList].find((c) => /^hue\d$/.test(c)));
  assert.deepEqual(await page.$$eval('.ins[data-line="7"]', (r, h) => r.map((e) => e.classList.contains(h)), hue),
    [true, true, true, true]);
  assert.equal(await page.$eval('.ins[data-pc="8"]', (r, h) => r.classList.contains(h), hue), false);
  assert.match(await page.$eval('.ins[data-pc="0"]', (r) => r.title), /jump to instruction a/);
  assert.match(await page.$eval('.ins[data-pc="0"]', (r) => r.title), /命令 a へ飛ぶ/);
});

await check('Debug on a program that does not compile shows its error, and the page goes on', async () => {
  await typeProgram('program p;\nvar x;\nbegin\n  x := 1;\n  y := 2\nend.\n');
  await page.click('#debug');
  await page.waitForFunction(() => document.body.dataset.debug === 'off' && document.body.dataset.state === 'done');
  assert.match(await text('#error'), /^構文エラー: /);
  assert.deepEqual(await markPlace(), { line: 5, column: 3, text: 'y' });
  await typeProgram(`program p;\nvar x;\nbegin\n  x := ${'('.repeat(200000)}1${')'.repeat(200000)}\nend.\n`);
  await page.click('#debug');
  await page.waitForFunction(() => document.body.dataset.debug === 'off' && document.body.dataset.state === 'done');
  // The whole box: the message, then where the parser went too deep (no hint).
  assert.equal(await text('#error-message'), '構文エラー: 入れ子が深すぎます');
  assert.equal(await text('#error-place'), '4行 675列 / line 4, column 675');
  assert.equal(await text('#error-hint'), '');
  await page.selectOption('#examples', 'hello');
  await page.click('#debug');
  await stopped();
  await press('continue');
  assert.equal((await drawing()).output, readFileSync(join(examplesDir, 'hello.out'), 'utf8'));
});

await check('the whole site stays under 1 MB, and the page links to the guides to the machine and the compiler', async () => {
  const bytes = readdirSync(siteDir).reduce((sum, file) => sum + statSync(join(siteDir, file)).size, 0);
  console.log(`     the site: ${bytes} bytes`);
  assert.ok(bytes < 1000000, `${bytes} bytes`);
  await open();
  const href = await page.$eval('.machine a.help', (a) => a.href);
  await page.goto(href);
  assert.match(await text('h2:has-text("static chain")'), /static chain/);
  await open();
  await page.goto(await page.$eval('.inside a.help', (a) => a.href));
  assert.match(await text('h2:has-text("token contract")'), /The token contract/);
  await page.goto(await page.$eval('a[href="machine.html"]', (a) => a.href));
  assert.match(await text('h2:has-text("static chain")'), /static chain/);
});

await check("the worker's report of a run gives the instructions it began and the run's own time", async () => {
  await open();
  // UJP ENT LDC STR, 1000 turns of LOD LDC COP FJP LOD LDC OPR STR UJP, the
  // last test (LOD LDC COP FJP), then LOD PUT HLT: 4 + 9000 + 4 + 3.
  const source = 'program p;\nvar i;\nbegin\n  i := 0;\n  while i < 1000 do i := i + 1;\n  write(i)\nend.\n';
  const done = await page.evaluate(async (program) => {
    const worker = new Worker('worker.js');
    const module = await window.tsumikiStart.module;
    const finished = new Promise((resolve) => {
      worker.onmessage = ({ data }) => {
        if (data.type === 'ready') worker.postMessage({ type: 'run', source: program, input: '', trace: true, check: false });
        if (data.type === 'done') resolve(data);
      };
    });
    worker.postMessage({ type: 'init', module });
    const report = await finished;
    worker.terminate();
    return report;
  }, source);
  assert.equal(done.end, 'halted');
  assert.equal(done.steps, 9011);
  assert.ok(done.runMs >= 0 && done.runMs <= done.ms, `runMs ${done.runMs}, ms ${done.ms}`);
});

await compileViewChecks({ page, check, open, base64url, examplesDir, answersPath: compileAnswersPath, screenshotDir: artifacts });

await check('nothing was fetched from elsewhere and the page raised no error', async () => {
  assert.deepEqual(foreign, []);
  assert.deepEqual(pageErrors.map(String), []);
});

await close();
server.close();
finish();
