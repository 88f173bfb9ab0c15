#!/usr/bin/env bash
# Times the playground's interpreter in the system's Chromium against the
# native interpreter, and the page's Run button (bench/playground.mjs; see
# bench/README.md):
#
#   bench/playground.sh [RUNS [ONLY]]
#
# The site must be built (cmake --workflow --preset wasm, into
# build/wasm/site); a release tsumiki is built here in build/bench, as
# bench/run.py builds it.  playwright-core comes from the web tests' lock
# file (tests/web), installed where tests/web/run.sh installs it.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/.." && pwd)"
site="$root/build/wasm/site"
if [ ! -f "$site/index.html" ]; then
  echo "playground.sh: $site is not built (cmake --workflow --preset wasm)" >&2
  exit 2
fi
cmake -S "$root" -B "$root/build/bench" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTSUMIKI_TESTS=OFF >/dev/null
cmake --build "$root/build/bench" --target tsumiki >/dev/null
modules="$root/build/wasm/tests-web"
mkdir -p "$modules"
cp "$root/tests/web/package.json" "$root/tests/web/package-lock.json" "$modules/"
if ! cmp -s "$root/tests/web/package-lock.json" "$modules/node_modules/.package-lock.json.copy" 2>/dev/null; then
  PLAYWRIGHT_SKIP_BROWSER_DOWNLOAD=1 npm ci --prefix "$modules" --no-audit --no-fund --prefer-offline --loglevel=error
  cp "$root/tests/web/package-lock.json" "$modules/node_modules/.package-lock.json.copy"
fi
exec node "$here/playground.mjs" "$modules/node_modules" "$site" "$root/build/bench/tsumiki" \
  "$here/programs" "${1:-5}" "${2:-}"
