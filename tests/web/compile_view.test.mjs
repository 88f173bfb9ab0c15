// The playground's Compile view in the browser, held against what
// `tsumiki-inspect compile` answers (compile_terminal.mjs) for the same
// program at the same step: the routine stack, the symbol table and the
// jumps waiting for their backpatch.  Called by playground.test.mjs with
// its page and its helpers.
import assert from 'node:assert/strict';
import { readFileSync } from 'node:fs';
import { join } from 'node:path';

export async function compileViewChecks({ page, check, open, base64url, examplesDir, answersPath, screenshotDir }) {
  const walks = answersPath ? JSON.parse(readFileSync(answersPath, 'utf8')) : [];
  const source = (name) => readFileSync(join(examplesDir, `${name}.tsu`), 'utf8');
  const answers = () => page.evaluate(() => Number(document.body.dataset.compileAnswers ?? 0));

  // Opens the view on a program at a step, by the share link.
  async function openAt(program, step = 0) {
    await open(`#code=${base64url(program)}&input=&compile&step=${step}`);
    await page.waitForFunction(() => document.body.dataset.compileStep !== undefined, null, { timeout: 20000 });
  }

  // Does something that asks the worker for a state, and waits for it.
  async function answered(action) {
    const before = await answers();
    await action();
    await page.waitForFunction((n) => Number(document.body.dataset.compileAnswers ?? 0) > n, before, { timeout: 20000 });
  }

  // What the view shows, in the terminal's terms (compile_terminal.mjs).
  function view() {
    return page.evaluate(() => {
      const routine = (kind) => kind === 'procedure' || kind === 'function';
      return {
        step: Number(document.body.dataset.compileStep),
        routines: [...document.querySelectorAll('#rules .rule')].map((r) => `${r.dataset.rule}@${r.dataset.line}:${r.dataset.column}`),
        symbols: [...document.querySelectorAll('#symbols .symbol')]
          .sort((x, y) => Number(x.dataset.entry) - Number(y.dataset.entry))
          .map((s) => `${s.dataset.entry}:${s.dataset.name} ${s.dataset.kind} ${s.dataset.level} ${routine(s.dataset.kind) ? s.dataset.address : s.dataset.offset}`),
        open: [...document.querySelectorAll('#code-store .code-row[data-open="true"]')].map((r) => Number(r.dataset.index)),
        sentence: document.getElementById('compile-sentence').textContent,
      };
    });
  }

  async function pressCompile(press) {
    await answered(() => (press.startsWith('code ')
      ? page.click(`#code-store .code-row[data-index="${press.slice(5)}"]`)
      : page.click(`#compile-${press}`)));
  }

  const shown = ({ step, routines, symbols, open }) => ({ step, routines, symbols, open });

  for (const walk of walks) {
    await check(`the Compile view stops as the terminal does: ${walk.name}`, async () => {
      await openAt(source(walk.example));
      assert.deepEqual(shown(await view()), walk.stops[0], 'step 0');
      for (const [k, press] of walk.presses.entries()) {
        await pressCompile(press);
        assert.deepEqual(shown(await view()), walk.stops[k + 1], `after ${press} (press ${k + 1})`);
      }
    });
  }

  await check('the share link opens the Compile view at its step, and follows it', async () => {
    const walk = walks.find((w) => w.example === 'sort');
    if (!walk) return;
    // Each stop the terminal made where a jump was waiting, and one more.
    const chosen = walk.stops.filter((s) => s.open.length > 1).slice(0, 3).concat(walk.stops.at(-1));
    for (const stop of chosen) {
      await openAt(source('sort'), stop.step);
      assert.deepEqual(shown(await view()), stop, `step ${stop.step}`);
    }
    await pressCompile('emit');
    await page.waitForFunction((step) => location.hash.endsWith(`&compile&step=${step}`),
      Number(await page.evaluate(() => document.body.dataset.compileStep)));
    // The slider goes to any step.
    const target = walk.stops[walk.stops.length - 3];
    await answered(() => page.$eval('#compile-history', (slider, step) => {
      slider.value = String(step);
      slider.dispatchEvent(new Event('input'));
    }, target.step));
    assert.deepEqual(shown(await view()), target);
  });

  await check('each step says what happened and why, and the source shows the token and its construct', async () => {
    await openAt(source('nested'), 73); // LOD of total inside add, two levels in
    const v = await view();
    assert.equal(v.sentence,
      '`total` は 2 つ外のレベルで見つかります: LOD 2,3 — 静的リンクを 2 回たどり、そのフレームの 4 番目のセルを読みます' +
      ' / `total` is found 2 levels out: LOD 2,3 — follow 2 static links, then read the fourth cell of that frame');
    assert.equal(await page.textContent('.compile-token'), 'total');
    assert.equal(await page.textContent('.compile-construct'), 'total');
    assert.equal(await page.$eval('#code-store .code-row.new', (r) => r.dataset.index), '4');
    await pressCompile('back-token'); // the token before: `:=` ... the construct is the statement
    assert.match((await view()).sentence, /^次のトークン .* を読みました .* \/ the next token, .* is read at line 7/);
    // A lookup one level out.
    await openAt('program p;\nvar x;\nprocedure q;\nbegin\n  write(x)\nend;\nbegin\n  q\nend.\n');
    for (let k = 0; k < 4; k++) await pressCompile('emit');
    assert.equal((await view()).sentence,
      '`x` は 1 つ外のレベルで見つかります: LOD 1,3 — 静的リンクを 1 回たどり、そのフレームの 4 番目のセルを読みます' +
      ' / `x` is found one level out: LOD 1,3 — follow one static link, then read the fourth cell of that frame');
    await pressCompile('emit');
    assert.equal((await view()).sentence, '命令 4: PUT 0,0 を生成します — 一番上のセルを書き出します (5 行目) / emits 4: PUT 0,0 — write the top cell (line 5)');
  });

  await check('a jump waits with a question mark until its backpatch fills it in', async () => {
    await openAt(source('nested'), 180);
    let row = await page.$eval('#code-store .code-row[data-index="13"]', (r) => ({ open: r.dataset.open ?? null, arrow: r.querySelector('.arrow').textContent }));
    assert.deepEqual(row, { open: null, arrow: '↓ 14' });
    await openAt(source('nested'), 131);
    row = await page.$eval('#code-store .code-row[data-index="13"]', (r) => ({ open: r.dataset.open ?? null, arrow: r.querySelector('.arrow').textContent }));
    assert.deepEqual(row, { open: 'true', arrow: '→ ?' });
    // Step by step to the backpatch: the row stays open until that step.
    for (;;) {
      await pressCompile('token');
      const v = await page.evaluate(() => ({
        open: document.querySelector('#code-store .code-row[data-index="13"]').dataset.open ?? null,
        sentence: document.getElementById('compile-sentence').textContent,
        patched: document.querySelector('#code-store .code-row.patched')?.dataset.index ?? null,
      }));
      if (v.open === null) break;
      assert.equal(v.patched, null);
    }
    // Back to the backpatch itself, one step before the token after it.
    const step = Number(await page.evaluate(() => document.body.dataset.compileStep));
    let back = step;
    let said = '';
    while (!said.includes('backpatches instruction 13')) {
      back -= 1;
      await answered(() => page.$eval('#compile-history', (slider, s) => {
        slider.value = String(s);
        slider.dispatchEvent(new Event('input'));
      }, back));
      said = (await view()).sentence;
    }
    assert.match(said, /^命令 13 の飛び先を 0 から 14 に書き換えます/);
    assert.equal(await page.$eval('#code-store .code-row.patched', (r) => r.dataset.index), '13');
    await answered(() => page.$eval('#compile-history', (slider, s) => {
      slider.value = String(s);
      slider.dispatchEvent(new Event('input'));
    }, back - 1));
    assert.equal(await page.$eval('#code-store .code-row[data-index="13"]', (r) => r.dataset.open), 'true');
  });

  await check('a click on a name goes to its registration, one on an instruction to its emission, keys make motions', async () => {
    const walk = walks.find((w) => w.example === 'nested');
    await openAt(source('nested'), 428);
    await answered(() => page.click('#symbols .symbol[data-name="count"]'));
    let v = await view();
    assert.match(v.sentence, /^`count` を手続きとして記号表の項目 3 に登録します .* \/ registers `count` as a procedure in entry 3 \(level 0, code address \d+\)$/);
    assert.equal(await page.$eval('#symbols .symbol.fresh', (s) => s.dataset.name), 'count');
    await answered(() => page.click('#code-store .code-row[data-index="0"]'));
    v = await view();
    assert.match(v.sentence, /^命令 0: UJP 0,0 を生成します: 飛び先はまだわからない/);
    assert.deepEqual(v.open, [0]);
    if (!walk) return;
    await answered(() => page.keyboard.press('Shift+F8'));
    assert.equal((await view()).step, 0);
    await answered(() => page.keyboard.press('F10'));
    assert.deepEqual(shown(await view()), walk.stops[1]); // as the terminal's `n`
    await answered(() => page.keyboard.press('F11'));
    assert.deepEqual(shown(await view()), walk.stops[2]); // `s`
    await answered(() => page.keyboard.press('F7'));
    assert.deepEqual(shown(await view()), walk.stops[3]); // `e`
    await answered(() => page.keyboard.press('F8'));
    assert.equal((await view()).step, walk.stops.at(-2).step);
  });

  // How quickly the view answers, as a figure for the log, never an
  // assertion on time: the largest example's compile, from its end back to
  // the start along the slider.
  await check('the Compile view records how quickly it follows the slider', async () => {
    await openAt(source('sort'), 100000);
    const last = Number(await page.evaluate(() => document.body.dataset.compileStep));
    const started = Date.now();
    for (let k = 1; k <= 20; k++) {
      await answered(() => page.$eval('#compile-history', (slider, s) => {
        slider.value = String(s);
        slider.dispatchEvent(new Event('input'));
      }, Math.round(last * (1 - k / 20))));
    }
    assert.equal((await view()).step, 0);
    console.log(`     sort.tsu, ${last} steps: 20 slider moves drawn in ${Date.now() - started} ms`);
  });

  await check('the Compile view fits the screen: beside the program at 1366 pixels, below it at 390', async () => {
    const sideways = () => page.evaluate(() => document.documentElement.scrollWidth - document.documentElement.clientWidth);
    try {
      for (const [width, height] of [[1366, 768], [390, 844]]) {
        await page.setViewportSize({ width, height });
        await openAt(source('sort'), 474);
        assert.equal(await sideways(), 0, `nothing scrolls sideways at ${width}`);
        const program = await page.locator('#editor').boundingBox();
        const panes = await Promise.all(['#rules', '#symbols', '#code-store'].map((id) => page.locator(id).boundingBox()));
        for (const box of panes) {
          assert.ok(box.x >= 0 && box.x + box.width <= width && box.height >= 60, `a pane within ${width} pixels`);
          if (width > 800) assert.ok(box.x >= program.x + program.width, 'right of the program');
          else assert.ok(box.y >= program.y + program.height, 'below the program');
        }
        if (screenshotDir) await page.screenshot({ path: join(screenshotDir, `compile-view-${width}.png`), fullPage: width < 800 });
      }
    } finally {
      await page.setViewportSize({ width: 1280, height: 800 });
    }
  });

  await check('a program that does not compile is recorded up to its error', async () => {
    await openAt('program p;\nvar x;\nbegin\n  x := y\nend.\n', 1000);
    const v = await view();
    assert.match(v.sentence, /^コンパイルエラー: /);
    assert.equal(await page.$eval('#error', (e) => e.hidden), false);
    assert.match(await page.textContent('#status'), /エラーで終わりました/);
  });

  await check('Run after the Compile view gives the run view back, its output unchanged', async () => {
    await openAt(source('nested'), 10);
    await page.click('#run');
    await page.waitForFunction(() => document.body.dataset.state === 'done');
    assert.equal(await page.textContent('#output'), readFileSync(join(examplesDir, 'nested.out'), 'utf8'));
    assert.equal(await page.$eval('.compiler', (c) => c.hidden), true);
    await page.waitForFunction(() => !location.hash.includes('compile'));
    assert.equal(await page.$eval('.cm-content', (c) => c.querySelectorAll('.compile-token').length), 0);
  });
}
