# Installs playwright-core, pinned by tests/web's package-lock.json, into
# $modules (sourced with `root` and `modules` set, by tests/web/run.sh and
# tests/judge/browser.sh); once per lock file: a copy of the lock in
# node_modules says what is there.  No browser is ever downloaded: the
# tests drive the system's Chromium.
mkdir -p "$modules"
cp "$root/tests/web/package.json" "$root/tests/web/package-lock.json" "$modules/"
if ! cmp -s "$root/tests/web/package-lock.json" "$modules/node_modules/.package-lock.json.copy" 2>/dev/null; then
  PLAYWRIGHT_SKIP_BROWSER_DOWNLOAD=1 npm ci --prefix "$modules" --no-audit --no-fund --prefer-offline --loglevel=error
  cp "$root/tests/web/package-lock.json" "$modules/node_modules/.package-lock.json.copy"
fi
