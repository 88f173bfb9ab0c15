// The judge's page in a real browser: the system's Chromium, driven by
// playwright-core, opens the page from its file and is used as a teacher
// would: a cell clicked brings up its detail.
//
//   node html.test.mjs NODE_MODULES PAGE SCREENSHOT
import assert from 'node:assert/strict';
import { pathToFileURL } from 'node:url';

import { check, finish, launch } from '../web/browser.mjs';

const [modulesDir, pagePath, screenshotPath] = process.argv.slice(2);


const { page, pageErrors, close } = await launch(modulesDir, 'tsumiki-judge-chromium');
const url = pathToFileURL(pagePath).href;
// The page is self-contained: nothing is fetched but the page itself.
const fetched = [];
page.on('request', (request) => fetched.push(request.url()));
await page.goto(url);

const detailShown = () =>
  page.evaluate(() => [...document.querySelectorAll('section')]
    .filter((s) => getComputedStyle(s).display !== 'none').map((s) => s.id));

try {
  await check('the table has every submission by every case, with scores', async () => {
    const rows = await page.$$eval('#results tr', (trs) =>
      trs.map((tr) => [...tr.children].map((c) => c.textContent.trim())));
    assert.deepEqual(rows, [
      ['提出', 'a', 'b', '得点'],
      ['class/div.tsu', 'WA', 'RE', '0/2'],
      ['class/good.tsu', 'AC', 'AC', '2/2'],
      ['class/off.tsu', 'WA', 'WA', '0/2'],
      ['class/typo.tsu', 'CE', 'CE', '0/2'],
    ]);
    assert.deepEqual(await detailShown(), [], 'no detail before a click');
    assert.deepEqual(fetched, [url]);
    assert.equal(await page.getAttribute('html', 'lang'), 'ja');
  });

  await check('a WA cell shows the outputs side by side with the difference marked', async () => {
    await page.click('#results tr:nth-child(4) td:nth-child(2) a');
    assert.deepEqual(await detailShown(), ['r2-0']);
    const detail = page.locator('#r2-0');
    assert.match(await detail.locator('h2').textContent(), /class\/off\.tsu \/ ケース a: WA/);
    assert.equal(await detail.locator('.message').textContent(),
      '2行目が違います: 期待「6」、出力「7」');
    assert.equal((await detail.locator('.sides pre').first().textContent()).trim(), '3');
    const rows = await detail.locator('table.compare tr').evaluateAll((trs) =>
      trs.map((tr) => [tr.className, ...[...tr.children].map((c) => c.textContent)]));
    assert.deepEqual(rows, [
      ['', '行', '期待される出力', '実際の出力'],
      ['', '1', '数を入力して下さい>3', '数を入力して下さい>3'],
      ['differs', '2', '6', '7'],
    ]);
    assert.deepEqual(await detail.locator('tr.differs mark').allTextContents(), ['6', '7']);
    const marked = await detail.locator('tr.differs mark').first().evaluate(
      (m) => getComputedStyle(m).backgroundColor);
    assert.notEqual(marked, 'rgba(0, 0, 0, 0)');
    assert.equal(await detail.locator('#r2-0-first').count(), 1);
  });

  await check('each number read is drawn after its prompt, and the text stays the output', async () => {
    await page.goto(`${url}#r2-0`);
    const rows = page.locator('#r2-0 table.compare tr');
    const actual = rows.nth(1).locator('td:nth-child(3)');
    assert.equal(await actual.textContent(), '数を入力して下さい>3');
    assert.equal(await actual.evaluate((td) => td.innerText), '数を入力して下さい>3');
    const echo = actual.locator('span.echo');
    assert.equal(await echo.getAttribute('data-echo'), '3');
    assert.equal(await echo.getAttribute('title'), '入力');
    assert.equal(await echo.evaluate((e) => getComputedStyle(e, '::after').fontStyle), 'italic');
    // The number and a line break are drawn: the row is two lines high.
    const [echoed, plain] = await Promise.all([rows.nth(1), rows.nth(2)].map((r) => r.boundingBox()));
    assert.ok(echoed.height > 1.5 * plain.height, `${echoed.height} against ${plain.height}`);
    assert.equal(await page.locator('#r2-0 td:nth-child(2) span.echo[data-echo="3"]').count(), 1);
  });

  await check('an RE cell shows the error at its line in the source', async () => {
    await page.click('a[href="#results"]:visible');
    assert.deepEqual(await detailShown(), []);
    await page.click('#results tr:nth-child(2) td:nth-child(3) a');
    assert.deepEqual(await detailShown(), ['r0-1']);
    const detail = page.locator('#r0-1');
    assert.equal(await detail.locator('.message').textContent(),
      '6行11列: 実行中にエラーがおきました: 0による除算がありました');
    assert.equal(await detail.locator('table.source tr.error').textContent(), '6  write(6 div x)');
    assert.equal(await detail.locator('table.source tr.error mark').textContent(), 'd');
    const lines = await detail.locator('table.source td.n').allTextContents();
    assert.deepEqual(lines, ['4', '5', '6', '7']);
    // The output so far, then the error, as tsumiki prints it.
    const actual = await detail.locator('table.compare tr.differs td:nth-child(3)').textContent();
    assert.match(actual, /^実行中にエラーがおきました: 0による除算がありました/);
  });

  await check('a CE cell shows the compile error, and the whole source is a click away', async () => {
    await page.goto(`${url}#results`);
    await page.click('#results tr:nth-child(5) td:nth-child(2) a');
    assert.deepEqual(await detailShown(), ['ce3']);
    const detail = page.locator('#ce3');
    // The message, and after a line break the hint.
    assert.equal(await detail.locator('.message').innerHTML(),
      '5行3列: 構文エラー: ブロックのおわりのendがありません<br>ヒント: 前の行の終りにセミコロン(;)が抜けていませんか');
    assert.equal(await detail.locator('tr.error mark').textContent(), 'w');
    await detail.locator('a[href="#s3"]').click();
    assert.deepEqual(await detailShown(), ['s3']);
    assert.equal(await page.locator('#s3 table.source tr').count(), 6);
  });

  await check('an AC cell and a case header lead to the case', async () => {
    await page.goto(`${url}#r1-0`);
    assert.deepEqual(await detailShown(), ['r1-0']);
    assert.match(await page.locator('#r1-0').textContent(), /期待どおりの出力でした/);
    await page.click('#r1-0 a[href="#c0"]');
    assert.deepEqual(await detailShown(), ['c0']);
    assert.deepEqual(await page.locator('#c0 pre').allTextContents(), ['3\n', '数を入力して下さい>3\n6\n']);
  });

  await check('the page raised no error', async () => {
    assert.deepEqual(pageErrors, []);
  });
  await page.goto(`${url}#r2-0`);
  await page.screenshot({ path: screenshotPath, fullPage: true });
} finally {
  await close();
}

finish();
