# What the judge's browser tests share, sourced by each (html.sh,
# similar_html.sh, playground.sh) with `root` and `work` set: skips
# (status 77) when Chromium or npm is missing, and installs playwright-core
# into $work/modules (tests/web/playwright.sh).  Sets `modules`.
[ -x /usr/bin/chromium ] || { echo "SKIPPED: no /usr/bin/chromium (tools/install-deps)"; exit 77; }
command -v npm >/dev/null || { echo "SKIPPED: no npm (tools/install-deps)"; exit 77; }
modules="$work/modules"
. "$root/tests/web/playwright.sh"
