// The judge's links to the playground, followed in a real browser: the
// system's Chromium, driven by playwright-core, opens the judge's class
// page, follows each WA, RE and TLE run's link into the playground (served
// from the built site on a local server) and finds the debugger stopped
// where the run went wrong.  The class has a submission whose name tries
// to break out of the page's markup.
//
//   node playground.test.mjs NODE_MODULES JUDGE SITE_DIR WORK_DIR
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { mkdirSync, rmSync, writeFileSync } from 'node:fs';
import { dirname, join } from 'node:path';
import { pathToFileURL } from 'node:url';

import { check, finish, launch, serve } from '../web/browser.mjs';

const [modulesDir, judge, siteDir, work] = process.argv.slice(2);

// The class: the second of three writes wrong; a division by zero after a
// write; a loop that never ends; and one whose name holds markup, quotes
// and an ampersand (its folders are part of its name).
const HOSTILE = 'class/q"&\'</a><script>alert(1)</script>.tsu';
const submissions = {
  'class/wa.tsu': 'program p;\nvar x;\nbegin\n  read(x);\n  write(x);\n  write(x * 2 + 1);\n  write(x * 3)\nend.\n',
  'class/re.tsu': 'program p;\nvar x;\nbegin\n  read(x);\n  write(x);\n  write(6 div (x - 3))\nend.\n',
  'class/tle.tsu': 'program p;\nvar x;\nbegin\n  read(x);\n  write(x);\n  while x > 0 do\n    x := x + 1\nend.\n',
  [HOSTILE]: 'program p;\nvar x;\nbegin\n  read(x);\n  write(x + 1)\nend.\n',
};
rmSync(work, { recursive: true, force: true });
for (const [name, source] of Object.entries(submissions)) {
  mkdirSync(dirname(join(work, name)), { recursive: true });
  writeFileSync(join(work, name), source);
}
mkdirSync(join(work, 'cases'));
writeFileSync(join(work, 'cases/a.in'), '3\n');
writeFileSync(join(work, 'cases/a.out'), '数を入力して下さい>3\n6\n9\n');

const server = await serve(siteDir);
const origin = `http://127.0.0.1:${server.address().port}/`;
execFileSync(judge, [
  '--cases', 'cases', '--steps', '5000', '--html', 'page.html', '--feedback', 'fb',
  '--playground', `${origin}index.html`, ...Object.keys(submissions),
], { cwd: work, env: { ...process.env, TSUMIKI_ENCODING: 'utf-8' }, stdio: ['ignore', 'ignore', 'inherit'] });

const { page, pageErrors, close } = await launch(modulesDir, 'tsumiki-judge-playground');
page.on('dialog', (dialog) => {
  pageErrors.push(new Error(`a dialog: ${dialog.message()}`));
  dialog.dismiss();
});
const classPage = pathToFileURL(join(work, 'page.html')).href;

// The playground link in a run's detail on the class page.
async function linkOf(submission) {
  await page.goto(classPage);
  const row = await page.$$eval('#results tr', (trs, name) =>
    trs.findIndex((tr) => tr.querySelector('th')?.textContent === name), submission);
  assert.ok(row > 0, `a row for ${submission}`);
  await page.click(`#results tr:nth-child(${row + 1}) td:nth-child(2) a`);
  return page.locator('section.detail:target a.playground').getAttribute('href');
}

// Follows a link and waits for the debugger's first stop.
async function follow(href) {
  await page.goto('about:blank');
  await page.goto(href);
  await page.waitForFunction(() => document.body.dataset.debug === 'stopped', null, { timeout: 60000 });
  return page.evaluate(() => ({
    line: Number(document.querySelector('.current-line')?.dataset.line ?? 0),
    output: document.getElementById('output').textContent,
    reason: document.body.dataset.reason,
    position: Number(document.body.dataset.position),
    status: document.getElementById('status').textContent,
    error: document.getElementById('error').hidden ? '' : document.getElementById('error-message').textContent,
  }));
}

try {
  await check('a WA link stops the debugger before the write of the first wrong line', async () => {
    const href = await linkOf('class/wa.tsu');
    assert.ok(href.startsWith(`${origin}index.html#code=`), href);
    assert.match(href, /&debug&at=[0-9]+&why=wa$/);
    const stop = await follow(href);
    assert.equal(stop.line, 6);
    assert.equal(stop.output, '数を入力して下さい>3\n');
    assert.equal(stop.reason, 'step');
    assert.match(stop.status, /6 行目.*判定: ここで最初に違う行を書きます/);
    // One instruction on, the wrong line is out.
    await page.click('#stepi');
    await page.waitForFunction(() => document.body.dataset.debug === 'stopped');
    assert.equal(await page.textContent('#output'), '数を入力して下さい>3\n7\n');
    // The page's own editor holds the submission, and its input box the case's.
    assert.equal(await page.inputValue('#input'), '3\n');
  });

  await check('an RE link stops the debugger at the error', async () => {
    const stop = await follow(await linkOf('class/re.tsu'));
    assert.equal(stop.reason, 'error');
    assert.equal(stop.line, 6);
    assert.equal(stop.output, '数を入力して下さい>3\n');
    assert.match(stop.error, /0による除算/);
    assert.match(stop.status, /判定: ここで実行時エラーがおきます/);
  });

  await check('a TLE link stops the debugger at the instruction limit, with a note', async () => {
    const stop = await follow(await linkOf('class/tle.tsu'));
    assert.equal(stop.position, 5000);
    assert.equal(stop.reason, 'step');
    assert.ok([6, 7].includes(stop.line), `in the loop: ${stop.line}`);
    assert.match(stop.status, /判定: 命令数の上限に達しました/);
  });

  await check('a student page links the same way', async () => {
    await page.goto(pathToFileURL(join(work, 'fb/002-re.tsu.html')).href);
    const href = await page.locator('#k0 a.playground').getAttribute('href');
    assert.equal(href, await linkOf('class/re.tsu'));
  });

  await check('a name with markup stays text in the page and its link', async () => {
    await page.goto(classPage);
    assert.equal(await page.locator('script').count(), 0);
    const names = await page.$$eval('#results th.name', (ths) => ths.map((th) => th.textContent));
    assert.ok(names.includes(HOSTILE), names.join(' | '));
    const href = await linkOf(HOSTILE);
    assert.match(href, /^http:\/\/127\.0\.0\.1:[0-9]+\/index\.html#code=[A-Za-z0-9_-]+&input=[A-Za-z0-9_-]*&debug&at=[0-9]+&why=wa$/);
    const heading = await page.locator('section.detail:target h2').textContent();
    assert.ok(heading.startsWith(HOSTILE), heading);
    const stop = await follow(href);
    assert.equal(stop.line, 5);
    assert.equal(stop.output, '数を入力して下さい>');
  });

  await check('the pages raised no error and opened no dialog', async () => {
    assert.deepEqual(pageErrors, []);
  });
} finally {
  await close();
  server.close();
}

finish();
