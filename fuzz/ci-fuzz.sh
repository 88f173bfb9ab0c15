#!/usr/bin/env bash
# A short fuzzing session for continuous integration: builds the libFuzzer
# harness with clang, seeds it from fuzz/seeds, the examples and the
# end-to-end tests, fuzzes for FUZZ_SECONDS (default 120) and fails on the
# first crash, sanitizer report, leak or hang.  Where they are built, the
# time is shared with the harness that runs every engine against the plain
# loop (native_harness.cpp: the fast loop, the native tier and the
# optimising tier; it also fails on any difference between them) and the language server's (lsp_harness.cpp).
# The input that failed is left in the build directory as crash-*, leak-*
# or timeout-*; replay it with `build/fuzz-ci/fuzz/tsumiki_fuzz FILE`.
#
#   fuzz/ci-fuzz.sh [BUILD_DIR]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(dirname "$here")"
build="${1:-$root/build/fuzz-ci}"
seconds="${FUZZ_SECONDS:-120}"

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=clang++ -DTSUMIKI_FUZZ=ON -DTSUMIKI_TESTS=OFF -DTSUMIKI_WERROR=ON
cmake --build "$build" --target tsumiki_fuzz

# The harnesses there are, each with its share of the time.
shares=1
native=0
if grep -q '^TSUMIKI_NATIVE:BOOL=ON' "$build/CMakeCache.txt"; then
  cmake --build "$build" --target tsumiki_native_fuzz
  native=1
  shares=$((shares + 1))
fi
lsp=0
if cmake --build "$build" --target help | grep -q '^tsumiki_lsp_fuzz:'; then
  cmake --build "$build" --target tsumiki_lsp_fuzz
  lsp=1
  shares=$((shares + 1))
fi # without the JSON library there is no language server to fuzz
share=$((seconds / shares))

work="$build/fuzz-run"
rm -rf "$work"
mkdir -p "$work/corpus" "$work/artifacts"
"$here/make-seeds.sh" "$work/seeds"

# -timeout: one input may take 10 s at most (the harness stops endless
# loops after a fixed number of instructions, so only a hang in the
# compiler or the machine itself gets there).
"$build/fuzz/tsumiki_fuzz" \
  -max_total_time="$share" -timeout=10 -print_final_stats=1 \
  -dict="$here/tsumiki.dict" -artifact_prefix="$work/artifacts/" \
  "$work/corpus" "$work/seeds"

if ((native)); then
  mkdir -p "$work/native-corpus"
  "$build/fuzz/tsumiki_native_fuzz" \
    -max_total_time="$share" -timeout=10 -print_final_stats=1 \
    -dict="$here/tsumiki.dict" -artifact_prefix="$work/artifacts/" \
    "$work/native-corpus" "$work/corpus" "$work/seeds"
fi

if ((lsp)); then
  mkdir -p "$work/lsp-corpus"
  "$build/fuzz/tsumiki_lsp_fuzz" \
    -max_total_time="$share" -timeout=10 -print_final_stats=1 \
    -dict="$here/lsp.dict" -artifact_prefix="$work/artifacts/" \
    "$work/lsp-corpus" "$here/lsp-seeds"
fi
