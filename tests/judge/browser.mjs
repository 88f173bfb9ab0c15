// What the judge's browser tests share: playwright-core from the folder
// browser.sh installed it in, the system's Chromium launched headless on a
// profile of its own, a page that records its errors, the checks and
// their summary.
import { mkdtempSync, rmSync } from 'node:fs';
import { createRequire } from 'node:module';
import { tmpdir } from 'node:os';
import { join } from 'node:path';

const results = [];

// Runs one named check; a failure is printed and counted, and the next
// check runs.
export async function check(name, fn) {
  try {
    await fn();
    results.push([name, null]);
    console.log(`ok   ${name}`);
  } catch (error) {
    results.push([name, error]);
    console.log(`FAIL ${name}\n${error.stack ?? error}`);
  }
}

// Chromium with one page; `pageErrors` collects the page's uncaught
// errors.  `close()` ends the browser and removes its profile.
export async function launch(modulesDir, name) {
  const { chromium } = createRequire(join(modulesDir, 'package.json'))('playwright-core');
  const profile = mkdtempSync(join(tmpdir(), `${name}-`));
  const browser = await chromium.launchPersistentContext(profile, {
    executablePath: '/usr/bin/chromium',
    args: [
      '--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync',
    ],
    viewport: { width: 1280, height: 900 },
  });
  const page = browser.pages()[0] ?? (await browser.newPage());
  const pageErrors = [];
  page.on('pageerror', (error) => pageErrors.push(error));
  const close = async () => {
    await browser.close();
    rmSync(profile, { recursive: true, force: true });
  };
  return { browser, page, pageErrors, close };
}

// Prints how many checks passed and ends the process, failing if any did.
export function finish() {
  const failed = results.filter(([, error]) => error);
  console.log(`${results.length - failed.length} passed, ${failed.length} failed`);
  process.exit(failed.length ? 1 : 0);
}
