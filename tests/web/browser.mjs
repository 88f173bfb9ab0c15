// What the browser tests share (the playground's in tests/web, the judge's
// pages in tests/judge): playwright-core from the folder their scripts
// installed it in (playwright.sh), the system's Chromium launched headless
// on a profile of its own, a page that records its errors, a local server
// for a built site, the checks and their summary.
import { existsSync, mkdtempSync, readFileSync, rmSync } from 'node:fs';
import { createServer } from 'node:http';
import { createRequire } from 'node:module';
import { tmpdir } from 'node:os';
import { extname, join, normalize } from 'node:path';

const results = [];

// ONLY=PATTERN runs just the checks whose names match the regular expression.
const only = new RegExp(process.env.ONLY ?? '');

// Runs one named check; a failure is printed and counted, and the next
// check runs.
export async function check(name, fn) {
  if (!only.test(name)) return;
  try {
    await fn();
    results.push([name, null]);
    console.log(`ok   ${name}`);
  } catch (error) {
    results.push([name, error]);
    console.log(`FAIL ${name}\n${error.stack ?? error}`);
  }
}

// Chromium with one page of `viewport`'s size; `pageErrors` collects the
// page's uncaught errors.  `close()` ends the browser and removes its
// profile.
export async function launch(modulesDir, name, viewport = { width: 1280, height: 900 }) {
  const { chromium } = createRequire(join(modulesDir, 'package.json'))('playwright-core');
  const profile = mkdtempSync(join(tmpdir(), `${name}-`));
  const browser = await chromium.launchPersistentContext(profile, {
    executablePath: '/usr/bin/chromium',
    args: [
      '--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync',
    ],
    viewport,
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

const TYPES = {
  '.html': 'text/html; charset=utf-8',
  '.js': 'text/javascript; charset=utf-8',
  '.css': 'text/css; charset=utf-8',
  '.wasm': 'application/wasm',
};

// Serves the folder `siteDir` (an absolute path), and nothing else, on a
// free port of 127.0.0.1.
export function serve(siteDir) {
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

// Prints how many checks passed and ends the process, failing if any did.
export function finish() {
  const failed = results.filter(([, error]) => error);
  console.log(`${results.length - failed.length} passed, ${failed.length} failed`);
  process.exit(failed.length ? 1 : 0);
}
