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
. "$here/browser.sh"
[ -f "$site/index.html" ] || { echo "SKIPPED: no playground in $site (cmake --workflow --preset wasm)"; exit 77; }
node "$here/playground.test.mjs" "$modules/node_modules" "$judge" "$(cd "$site" && pwd)" "$work/class"
