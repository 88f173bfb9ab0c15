#!/usr/bin/env bash
# One long session of one fuzz target, to see that it runs for hours at a
# steady resident memory and to collect what it finds:
#
#   fuzz/long-session.sh TARGET SECONDS [BUILD_DIR]
#
# TARGET is plain, native, lsp, merge or dap.  The build and the session are
# ci-fuzz.sh's (same options, memory watched the same way; default build
# folder build/fuzz-ci); the whole log goes to BUILD_DIR/long-TARGET.log and
# the corpus and failing inputs to BUILD_DIR/long-TARGET/.  At the end it
# prints the inputs run, the resident memory after the seeds, at the end
# and at its peak, its growth per input over the second half, and the
# findings: the fault's report and the failing input, or "none".  The status
# is ci-fuzz.sh's: 0 when nothing was found and the memory held steady.
set -uo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(dirname "$here")"
if [ "$#" -lt 2 ] || [[ ! $2 =~ ^[0-9]+$ ]]; then
  echo "usage: fuzz/long-session.sh plain|native|lsp|merge|dap SECONDS [BUILD_DIR]" >&2
  exit 2
fi
target=$1 seconds=$2
build="${3:-$root/build/fuzz-ci}"
mkdir -p "$build"
build="$(cd "$build" && pwd)"
log="$build/long-$target.log"

FUZZ_TARGETS=$target FUZZ_SECONDS=$seconds FUZZ_WORK="$build/long-$target" \
  "$here/ci-fuzz.sh" "$build" >"$log" 2>&1
status=$?

summary=$(grep "^$target: " "$log" | awk '!seen[$0]++')
if [ -z "$summary" ]; then
  tail -n 20 "$log"
  echo "$target: the session did not run (status $status); see $log"
  exit "$status"
fi
echo "$summary"
findings=$(grep -E '^==[0-9]+==ERROR|^SUMMARY: |^==[0-9]+== ERROR: libFuzzer|^(Test unit|artifact_prefix=.*; Test unit) written to' "$log")
if [ -n "$findings" ]; then
  echo "$target findings:"
  echo "$findings"
else
  echo "$target findings: none"
fi
echo "$target: log in $log"
exit "$status"
