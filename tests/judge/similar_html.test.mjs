// The page of tsumiki-judge similar in a real browser: the system's
// Chromium, driven by playwright-core, opens it from its file; what the
// students chose (names, source) shows as text and never runs.
//
//   node similar_html.test.mjs NODE_MODULES PAGE
import assert from 'node:assert/strict';
import { join } from 'node:path';
import { pathToFileURL } from 'node:url';

import { check, finish, launch } from '../web/browser.mjs';

const [modulesDir, pagePath] = process.argv.slice(2);


const HOSTILE = 'class/<img src=x onerror="window.pwned=1">&\'.tsu';
const { page, pageErrors, close } = await launch(modulesDir, 'tsumiki-similar-chromium');
const url = pathToFileURL(pagePath).href;
const fetched = [];
page.on('request', (request) => fetched.push(request.url()));
await page.goto(url);

try {
  await check('the pairs are listed highest first, names as text', async () => {
    const rows = await page.$$eval('table.pairs tr', (trs) =>
      trs.map((tr) => [...tr.children].map((c) => c.textContent)));
    assert.equal(rows.length, 6);
    for (const row of rows) assert.equal(row[0], '100%');
    assert.deepEqual(rows[0].slice(1), [HOSTILE, 'class/alice.tsu']);
    assert.deepEqual(fetched, [url], 'nothing fetched: no <img> was made');
  });

  await check('nothing the students wrote ran', async () => {
    assert.equal(await page.evaluate(() => window.pwned), undefined);
    assert.equal(await page.locator('script, img').count(), 0);
    assert.deepEqual(pageErrors, []);
  });

  await check('a pair shows its matched lines side by side', async () => {
    await page.click('table.pairs tr:nth-child(1) a');
    assert.equal(new URL(page.url()).hash, '#pair-1');
    const first = page.locator('#pair-1 + table.region');
    const heads = await first.locator('th').allTextContents();
    assert.deepEqual(heads, [`${HOSTILE} 1-24行`, 'class/alice.tsu 1-24行']);
    // The copy is one region; the hostile tail is on line 24.
    const regions = page.locator('table.region');
    let found = false;
    for (let i = 0; i < await regions.count(); ++i) {
      const pres = await regions.nth(i).locator('pre').allTextContents();
      if (pres[0].includes('end.</pre>')) {
        assert.match(pres[0], /24 {2}end\.<\/pre><script>window\.pwned=2<\/script>&"'\n$/);
        assert.match(pres[1], /24 {2}end\.\n$/);
        found = true;
      }
    }
    assert.ok(found, 'the last line is shown');
  });

  await check('what did not compile is listed with its reason', async () => {
    const items = await page.locator('#skipped + ul li').allTextContents();
    assert.equal(items.length, 2);
    assert.ok(items.some((t) => t.startsWith('class/<script>window.pwned=3.tsu: 3行3列: 構文エラー')), items.join('\n'));
  });
} finally {
  await close();
}

finish();
