#!/usr/bin/env bash
# Tests the playground in the system's Chromium, after
# `cmake --workflow --preset wasm` has built build/wasm/site:
#
#   tests/web/run.sh [SITE_DIR]
#
# The debugger's drawing and the Compile view are held against the
# terminal's answers (tsumiki-inspect debug and compile), so the native
# tsumiki-inspect must be built too (by the ci preset, or
# named by TSUMIKI_INSPECT).
#
# playwright-core (pinned by package-lock.json) drives /usr/bin/chromium;
# no browser is ever downloaded.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/../.." && pwd)"
site="${1:-$root/build/wasm/site}"
modules="$root/build/wasm/tests-web"
. "$here/playwright.sh"
inspect="${TSUMIKI_INSPECT:-$root/build/ci/tsumiki-inspect}"
if [ ! -x "$inspect" ]; then
  echo "run.sh: $inspect is not built (cmake --workflow --preset ci, or set TSUMIKI_INSPECT)" >&2
  exit 2
fi
answers="$root/build/wasm/terminal-stops.json"
compile_answers="$root/build/wasm/terminal-compile.json"
node "$here/terminal.mjs" "$inspect" "$root/examples" "$answers"
node "$here/compile_terminal.mjs" "$inspect" "$root/examples" "$compile_answers"
node "$here/playground.test.mjs" "$modules/node_modules" "$site" "$root/examples" "$root/build/wasm/screenshot.png" \
  "$answers" "$compile_answers"
