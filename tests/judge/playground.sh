#!/usr/bin/env bash
# Tests the judge's links into the playground in the system's Chromium:
# the class page's and a student page's links to the debugger, followed.
#
#   playground.sh JUDGE SITE_DIR WORK_DIR
#
# SITE_DIR is the playground `cmake --workflow --preset wasm` built
# (build/wasm/site).  Status 77 (skipped) when it, Chromium or npm is
# missing.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/../.." && pwd)"
judge=$1 site=$2 work=$3
[ -x /usr/bin/chromium ] || { echo "SKIPPED: no /usr/bin/chromium (tools/install-deps)"; exit 77; }
command -v npm >/dev/null || { echo "SKIPPED: no npm (tools/install-deps)"; exit 77; }
[ -f "$site/index.html" ] || { echo "SKIPPED: no playground in $site (cmake --workflow --preset wasm)"; exit 77; }
modules="$work/modules"
mkdir -p "$modules"
cp "$root/tests/web/package.json" "$root/tests/web/package-lock.json" "$modules/"
if ! cmp -s "$root/tests/web/package-lock.json" "$modules/node_modules/.package-lock.json.copy" 2>/dev/null; then
  PLAYWRIGHT_SKIP_BROWSER_DOWNLOAD=1 npm ci --prefix "$modules" --no-audit --no-fund --prefer-offline --loglevel=error
  cp "$root/tests/web/package-lock.json" "$modules/node_modules/.package-lock.json.copy"
fi
node "$here/playground.test.mjs" "$modules/node_modules" "$judge" "$(cd "$site" && pwd)" "$work/class"
