#!/usr/bin/env bash
# Tests the judge's HTML page in the system's Chromium: judges a small
# class into a page and drives the page as a teacher would.
#
#   html.sh JUDGE WORK_DIR
#
# Status 77 (skipped) when Chromium or npm is missing (browser.sh).
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/../.." && pwd)"
judge=$1 work=$2
. "$here/browser.sh"

# The class: right, wrong in its second line, a run-time error, a compile
# error.
class="$work/class" cases="$work/cases"
rm -rf "$class" "$cases" && mkdir -p "$class" "$cases"
printf '3\n' >"$cases/a.in"
printf '数を入力して下さい>3\n6\n' >"$cases/a.out"
printf '0\n' >"$cases/b.in"
printf '数を入力して下さい>0\n0\n' >"$cases/b.out"
printf 'program p;\nvar x;\nbegin\n  read(x);\n  write(x);\n  write(x * 2)\nend.\n' >"$class/good.tsu"
printf 'program p;\nvar x;\nbegin\n  read(x);\n  write(x);\n  write(x * 2 + 1)\nend.\n' >"$class/off.tsu"
printf 'program p;\nvar x;\nbegin\n  read(x);\n  write(x);\n  write(6 div x)\nend.\n' >"$class/div.tsu"
printf 'program p;\nvar x;\nbegin\n  read(x)\n  write(x)\nend.\n' >"$class/typo.tsu"
(cd "$work" && TSUMIKI_ENCODING=utf-8 "$judge" --cases cases --html page.html class >/dev/null)
node "$here/html.test.mjs" "$modules/node_modules" "$work/page.html" "$work/page.png"
