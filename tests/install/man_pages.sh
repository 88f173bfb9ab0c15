#!/usr/bin/env bash
# Checks the manual pages: groff (with every warning) and man-db format each
# without a single warning, and each has the sections users look for.
#
#   man_pages.sh PAGE...
#
# TSUMIKI_PROGRAMS, when set, names the programs (separated by blanks) that
# must each have a page.
set -uo pipefail
sections=(NAME SYNOPSIS DESCRIPTION "THE LANGUAGE IN BRIEF" "EXIT STATUS" ENVIRONMENT ENCODING
          EXAMPLES FILES "SEE ALSO")
failed=0
fail() { echo "$page: $*"; failed=1; }
for page in "$@"; do
    [ -s "$page" ] || { fail "missing"; continue; }
    warnings=$(groff -man -ww -z "$page" 2>&1)
    [ -z "$warnings" ] || fail "groff warns:"$'\n'"$warnings"
    warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l "$page" 2>&1 >/dev/null)
    [ -z "$warnings" ] || fail "man warns:"$'\n'"$warnings"
    # The page is plain ASCII, so that it reads the same in every locale.
    if LC_ALL=C grep -n '[^[:print:][:space:]]' "$page"; then fail "has bytes that are not ASCII"; fi
    # Left for the build to fill in?
    if grep -n '@[A-Z_]*@' "$page"; then fail "has an unfilled @VARIABLE@"; fi
    for section in "${sections[@]}"; do
        grep -qx "\.SH \"\?$section\"\?" "$page" || fail "has no section $section"
    done
    title=$(basename "$page" .1)
    title=${title^^}
    grep -qF ".TH ${title//-/\\-} 1 " "$page" || fail "its .TH does not name ${title,,}"
done
[ "$#" -gt 0 ] || { echo "no manual pages given"; failed=1; }
for program in ${TSUMIKI_PROGRAMS:-}; do
    page=$program
    printf '%s\n' "$@" | grep -q "/$program\.1\$" || fail "no manual page: write docs/man/$program.1.in"
done
exit "$failed"
