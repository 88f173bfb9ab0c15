#!/usr/bin/env bash
# Checks the Debian package with lintian, Debian's own package checker: makes
# the package from a finished build with cpack and fails on any error or
# warning lintian reports.  Its notes of lower levels (info, pedantic) are
# shown, and fail nothing.  CI runs it on its build; so can anyone:
#
#   tests/install/lintian.sh [BUILD_DIR]      (default: build/ci)
#
# The notes it leaves, and why:
# - hardening-no-bindnow: the programs link as Debian links by default
#   (relro without -z now); binding at load time would only slow the start.
# - binary-has-unneeded-section: CPack strips with plain strip, which keeps
#   the .comment section (the compiler's name, a few bytes).
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
build="$(cd "${1:-$root/build/ci}" && pwd)"
work="$build/lintian"
command -v lintian >/dev/null || { echo "lintian is not installed: run tools/install-deps"; exit 1; }

rm -rf "$work" && mkdir -p "$work"
cpack --config "$build/CPackConfig.cmake" -B "$work" >"$work/cpack.log" 2>&1 \
    || { cat "$work/cpack.log"; echo "FAILED: cpack"; exit 1; }
deb=("$work"/tsumiki_*.deb)
[ -f "${deb[0]}" ] || { echo "FAILED: cpack made no package"; exit 1; }

# lintian warns that it runs as root (CI's user); that says nothing of the
# package.
status=0
lintian --fail-on error,warning --display-info --pedantic "${deb[0]}" 2>&1 \
    | grep -v '^running with root privileges is not recommended!$' || status=${PIPESTATUS[0]}
if [ "$status" -ne 0 ]; then
    echo "FAILED: lintian found errors or warnings in $(basename "${deb[0]}") (status $status)"
    exit 1
fi
echo "lintian: no error and no warning in $(basename "${deb[0]}")"
