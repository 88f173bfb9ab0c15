#!/usr/bin/env bash
# A short fuzzing session for continuous integration: builds the libFuzzer
# harness with clang, seeds it from fuzz/seeds, the examples and the
# end-to-end tests, fuzzes for FUZZ_SECONDS (default 120; a third of it goes
# to the language server's harness when that is built) and fails on the
# first crash, sanitizer report, leak or hang.  The input that failed is
# left in the build directory as crash-*, leak-* or timeout-*; replay it
# with `build/fuzz-ci/fuzz/tsumiki_fuzz FILE`.
#
#   fuzz/ci-fuzz.sh [BUILD_DIR]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(dirname "$here")"
build="${1:-$root/build/fuzz-ci}"
seconds="${FUZZ_SECONDS:-120}"
lsp_seconds=$((seconds / 3))

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=clang++ -DTSUMIKI_FUZZ=ON -DTSUMIKI_TESTS=OFF -DTSUMIKI_WERROR=ON
cmake --build "$build" --target tsumiki_fuzz
lsp_fuzz=""
if cmake --build "$build" --target help | grep -q '^tsumiki_lsp_fuzz:'; then
  cmake --build "$build" --target tsumiki_lsp_fuzz
  lsp_fuzz="$build/fuzz/tsumiki_lsp_fuzz"
  seconds=$((seconds - lsp_seconds))
fi # without the JSON library there is no language server to fuzz

work="$build/fuzz-run"
rm -rf "$work"
mkdir -p "$work/corpus" "$work/artifacts"
"$here/make-seeds.sh" "$work/seeds"

# -timeout: one input may take 10 s at most (the harness stops endless
# loops after a fixed number of instructions, so only a hang in the
# compiler or the machine itself gets there).
"$build/fuzz/tsumiki_fuzz" \
  -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
  -dict="$here/tsumiki.dict" -artifact_prefix="$work/artifacts/" \
  "$work/corpus" "$work/seeds"

if [ -n "$lsp_fuzz" ]; then
  mkdir -p "$work/lsp-corpus"
  "$lsp_fuzz" \
    -max_total_time="$lsp_seconds" -timeout=10 -print_final_stats=1 \
    -dict="$here/lsp.dict" -artifact_prefix="$work/artifacts/" \
    "$work/lsp-corpus" "$here/lsp-seeds"
fi
