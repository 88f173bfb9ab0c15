#!/usr/bin/env bash
# Tests the page of tsumiki-judge similar in the system's Chromium: a
# class with a renamed copy whose file name and source try to break out of
# the page, read as a teacher would.
#
#   similar_html.sh JUDGE WORK_DIR
#
# Status 77 (skipped) when Chromium or npm is missing (browser.sh).
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/../.." && pwd)"
judge=$1 work=$2
. "$here/browser.sh"

# The class: the worked example's, a copy of alice's under a hostile name
# with a hostile tail after its final ".", and one that does not compile
# under another.
class="$work/class"
rm -rf "$class" && mkdir -p "$class"
cp "$root"/examples/similar/class/*.tsu "$class/"
hostile='<img src=x onerror="window.pwned=1">&'"'"'.tsu'
{ head -c -1 "$root/examples/similar/class/alice.tsu"; printf '</pre><script>window.pwned=2</script>&"'"'"'\n'; } \
  >"$class/$hostile"
printf 'program p;\nbegin\n  <script>\nend.\n' >"$class/<script>window.pwned=3.tsu"
(cd "$work" && "$judge" similar --html page.html class >/dev/null)
node "$here/similar_html.test.mjs" "$modules/node_modules" "$work/page.html"
