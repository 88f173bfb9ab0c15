# What the judge's browser tests share, sourced by each (html.sh,
# similar_html.sh, playground.sh) with `root` and `work` set: skips
# (status 77) when Chromium or npm is missing, and installs playwright-core,
# pinned by tests/web's package-lock.json, into $work/modules once per
# lock file; no browser is ever downloaded.  Sets `modules`.
[ -x /usr/bin/chromium ] || { echo "SKIPPED: no /usr/bin/chromium (tools/install-deps)"; exit 77; }
command -v npm >/dev/null || { echo "SKIPPED: no npm (tools/install-deps)"; exit 77; }
modules="$work/modules"
mkdir -p "$modules"
cp "$root/tests/web/package.json" "$root/tests/web/package-lock.json" "$modules/"
if ! cmp -s "$root/tests/web/package-lock.json" "$modules/node_modules/.package-lock.json.copy" 2>/dev/null; then
  PLAYWRIGHT_SKIP_BROWSER_DOWNLOAD=1 npm ci --prefix "$modules" --no-audit --no-fund --prefer-offline --loglevel=error
  cp "$root/tests/web/package-lock.json" "$modules/node_modules/.package-lock.json.copy"
fi
