// Plays a learner in code-server (see tools/check-vscode.sh), in the
// system's Chromium: each step takes a screenshot and checks what the page
// shows.
//
//   node tools/check-vscode.mjs NODE_MODULES URL FOLDER SHOTS_DIR
import { createRequire } from 'node:module';
import { mkdtempSync, mkdirSync, readFileSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';

const [modules, origin, folder, shots] = process.argv.slice(2);
const { chromium } = createRequire(join(modules, 'x.js'))('playwright-core');
const browser = await chromium.launchPersistentContext(mkdtempSync(join(tmpdir(), 'tsumiki-vscode-')), {
  executablePath: '/usr/bin/chromium',
  args: ['--headless', '--no-sandbox', '--disable-gpu', '--no-first-run', '--disable-background-networking'],
  viewport: { width: 1400, height: 900 },
});
const page = browser.pages()[0] ?? (await browser.newPage());
const sleep = (ms) => new Promise((done) => setTimeout(done, ms));
const failures = [];
let shot = 0;

// Waits until `locator` shows `text` (a string or a pattern; white space
// comes as single spaces), then takes the step's screenshot.
async function step(name, locator, text) {
  const wanted = typeof text === 'string' ? (seen) => seen.includes(text) : (seen) => text.test(seen);
  let seen = '';
  for (let i = 0; i < 60 && !wanted(seen); ++i) {
    await sleep(500);
    seen = (await locator.allInnerTexts().catch(() => [])).join(' ').replace(/\s+/g, ' ');
  }
  const file = join(shots, `${String(++shot).padStart(2, '0')}-${name}.png`);
  await page.screenshot({ path: file });
  const ok = wanted(seen);
  if (!ok) failures.push(`${name}: expected ${text}, saw ${JSON.stringify(seen.slice(0, 300))}`);
  console.log(`${ok ? 'ok  ' : 'FAIL'} ${name} (${file})`);
}
const open = async (file) => {
  await page.keyboard.press('Control+Shift+E');
  await page.getByRole('treeitem', { name: file }).click();
};
const gutter = async (line) => {
  const number = page.locator('.margin-view-overlays .line-numbers').filter({ hasText: new RegExp(`^${line}$`) });
  const box = await number.first().boundingBox();
  await page.mouse.click(box.x - 8, box.y + box.height / 2);
};
const key = async (keys) => { await page.keyboard.press(keys); await sleep(1500); };
const callStack = page.locator('.pane', { has: page.locator('.pane-header', { hasText: /call stack/i }) });
const variables = page.locator('.debug-variables');
const console_ = page.locator('.repl');

mkdirSync(shots, { recursive: true });
await page.goto(`${origin}?folder=${folder}`);
await step('opened', page.locator('.explorer-folders-view'), 'nested.tsu');

await open('nested.tsu');
await step('highlighted-and-lenses', page.locator('.monaco-editor .view-lines, .codelens-decoration'), '命令 11 個');
await open('broken.tsu');
await key('Control+Shift+M');
await step('error-in-problems', page.locator('.markers-panel'), /構文エラー.*Ln 5, Col 12/);

await open('nested.tsu');
await page.locator('.view-line').filter({ hasText: 'calls := calls + 1' }).locator('span', { hasText: /^calls$/ }).first().hover();
await step('hover', page.locator('.monaco-hover'), '変数 calls');

// No launch.json: F5 debugs the file in the editor, stopping on entry.
await gutter(7);
await key('F5');
await step('stopped-on-entry', callStack, /Paused on entry/i);
await key('F5');
await step('breakpoint-with-frames', callStack,
           /Paused on breakpoint add nested\.tsu 7:\d+ addrange nested\.tsu 14:\d+ count nested\.tsu 20:\d+ nested/i);
for (const scope of ['count (enclosing)', 'nested (enclosing)']) {
  await variables.locator('.monaco-list-row', { hasText: scope }).click();
  await sleep(800);
}
await step('variables-of-enclosing-routines', variables,
           'k = 1 count (enclosing) n = 10 calls = 0 nested (enclosing) total = 0 Machine');
await variables.locator('.monaco-list-row', { hasText: 'Machine' }).click();
await sleep(800);
await variables.locator('.monaco-list-row', { hasText: 'cells' }).click();
await step('labelled-cells', variables, /\[0\] static link of frame 3 \(nested\)/);
await key('F10');
await step('step-over', callStack, /add nested\.tsu 8:/);
await key('F10');
await step('back-in-the-caller', callStack, /addrange nested\.tsu 15:/);
await key('F10');
await key('F10');
await key('F11');
await step('step-into', callStack, /add nested\.tsu 7:\d+ addrange/);
await key('Shift+F11');
await step('step-out', callStack, /step addrange nested\.tsu 15:/i);
await page.locator('.debug-toolbar .action-label[aria-label^="Step Back"]').click();
await step('step-back', variables, 'k = 2');
await page.locator('.debug-toolbar .action-label[aria-label^="Reverse"]').click();
await step('reverse-continue', variables, 'k = 1');
await gutter(7);
await key('F5');
await step('output-and-exit-status', console_, '10 55 4 65 [プログラムは終了しました。終了コード 0]');

// A launch.json: a run-time error, and input given in the configuration.
mkdirSync(join(folder, '.vscode'), { recursive: true });
writeFileSync(join(folder, '.vscode', 'launch.json'), JSON.stringify({
  version: '0.2.0',
  configurations: [
    { type: 'tsumiki', request: 'launch', name: 'crash', program: '${workspaceFolder}/crash.tsu' },
    { type: 'tsumiki', request: 'launch', name: 'stats', program: '${workspaceFolder}/stats.tsu', input: '3\n-7\n12\n5\n0\n' },
  ],
}, null, 2));
await sleep(1500);
await key('Control+Shift+D');
const choose = page.locator('.start-debug-action-item select');
await choose.selectOption({ label: 'crash' });
await key('F5');
await step('run-time-error', page.locator('.exception-widget'), '0による除算がありました');
await key('F5');
await step('error-ends-the-run', console_, '0による除算がありました [プログラムは終了しました。終了コード 1]');
await choose.selectOption({ label: 'stats' });
await key('F5');
await step('input-from-launch-json', console_, '4 13 12 3 [プログラムは終了しました。終了コード 0]');

// The language server through the editor: completion, a rename, a quick
// fix from the light bulb's menu and the addresses as inlay hints, in a
// program where count's n hides the program's.
{
  const scopes = ['program scopes;', 'var n, total;', 'procedure count(k);', 'var n;', '  procedure add(s);',
    '  begin', '    total := total + s + n', '  end;', 'begin', '  n := k;', '  add(n)', 'end;', 'begin',
    '  n := 2;', '  total := 0;', '  count(n);', '  write(total)', 'end.', ''];
  writeFileSync(join(folder, 'scopes.tsu'), scopes.join('\n'));
  writeFileSync(join(folder, 'equals.tsu'), 'program equals;\nvar x;\nbegin\n  x = 1;\n  write(x)\nend.\n');
  await sleep(1500);
  const editorText = page.locator('.monaco-editor .view-lines');
  const lineOf = (text) => page.locator('.view-line').filter({ hasText: text }).first();
  // Puts the cursor just before the `nth` `word` of the line holding `text`.
  const clickWord = async (text, word, nth = 0) => {
    await lineOf(text).locator('span', { hasText: new RegExp(`^${word}$`) }).nth(nth).click();
    await page.keyboard.press('Home');
    await page.keyboard.press('End');
  };
  await page.keyboard.press('Escape');
  await open('scopes.tsu');
  await step('scopes-opened', editorText, 'total := total + s + n');

  // After "+ " in add: its parameter, count's k and n, the program's total.
  await lineOf('total := total + s + n').click();
  await page.keyboard.press('End');
  await page.keyboard.press('Backspace');
  await page.keyboard.press('Control+Space');
  await step('completion', page.locator('.suggest-widget .monaco-list-row .label-name'), /^s k n total$/);
  await page.keyboard.press('Escape');
  await page.keyboard.type('n');

  // F2 on count's n in add: count's three places change, the program's stay.
  await lineOf('total := total + s + n').click();
  await page.keyboard.press('End');
  await page.keyboard.press('ArrowLeft');
  await key('F2');
  await page.keyboard.press('Control+A');
  await page.keyboard.type('m');
  await key('Enter');
  await step('rename', editorText,
    /var m; procedure add\(s\); begin total := total \+ s \+ m end; begin m := k; add\(m\) end; begin n := 2;.*count\(n\);/);

  // The addresses after each use, with the setting on (in the folder's
  // settings): total two levels out from add, m one.
  writeFileSync(join(folder, '.vscode', 'settings.json'), '{ "tsumiki.inlayHints.addresses": true }\n');
  await step('inlay-hints', editorText, /total〈2,4〉 := total〈2,4〉 \+ s〈0,3〉 \+ m〈1,4〉/);
  writeFileSync(join(folder, '.vscode', 'settings.json'), '{}\n');

  // "=" where ":=" belongs: the light bulb's quick fix writes ":=".
  await open('equals.tsu');
  await step('equals-opened', editorText, 'x = 1;');
  await lineOf('x = 1;').click();
  await key('Control+.');
  await step('quick-fix-offered', page.locator('.action-widget'), '代入は := です');
  await key('Enter');
  await step('quick-fix-applied', editorText, 'x := 1;');
}

// A breakpoint set while a loop runs stops it there: the adapter answers
// while the program runs, and the breakpoint takes effect at once.
{
  writeFileSync(join(folder, 'spin.tsu'), 'program spin;\nvar i;\nbegin\n  i := 0;\n  while 0 = 0 do\n    i := i + 1\nend.\n');
  const launchJson = join(folder, '.vscode', 'launch.json');
  const launch = JSON.parse(readFileSync(launchJson, 'utf8'));
  launch.configurations.push({ type: 'tsumiki', request: 'launch', name: 'spin', program: '${workspaceFolder}/spin.tsu' });
  writeFileSync(launchJson, JSON.stringify(launch, null, 2));
  await sleep(1500);
  await page.keyboard.press('Escape');
  await open('spin.tsu');
  await key('Control+Shift+D');
  await choose.selectOption({ label: 'spin' });
  await key('F5');
  await step('spin-running', callStack, /running/i);
  await gutter(6);
  await step('breakpoint-while-running', callStack, /Paused on breakpoint spin spin\.tsu 6:/i);
  await key('Shift+F5');
}

await browser.close();
for (const f of failures) console.error(`FAIL: ${f}`);
process.exit(failures.length === 0 ? 0 : 1);
