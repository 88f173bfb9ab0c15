#!/usr/bin/env bash
# Builds the seed corpus for the fuzzer in DIR (default: ./seed-corpus):
# the hand-written seeds in fuzz/seeds, every example program with its
# input, and every program of the end-to-end tests.  A seed is a source,
# then a Ctrl-Z byte and the standard input, as the harness expects.
#
#   fuzz/make-seeds.sh [DIR]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(dirname "$here")"
out="${1:-seed-corpus}"
mkdir -p "$out"

cp "$here"/seeds/*.tsu "$out"/

for src in "$root"/examples/*.tsu; do
  [ -e "$src" ] || continue
  name="$(basename "$src" .tsu)"
  {
    cat "$src"
    if [ -e "${src%.tsu}.in" ]; then
      printf '\032'
      cat "${src%.tsu}.in"
    fi
  } >"$out/example-$name.tsu"
done

# Each end-to-end test file holds its programs as split-file parts.
python3 - "$root/tests/e2e" "$out" <<'PY'
import os, re, sys
root, out = sys.argv[1], sys.argv[2]
n = 0
for dirpath, _, files in os.walk(root):
    for f in sorted(files):
        if not f.endswith(".test"):
            continue
        with open(os.path.join(dirpath, f), "rb") as fh:
            text = fh.read()
        parts = re.split(rb"^#--- (.*)\n", text, flags=re.M)
        named = dict(zip(parts[1::2], parts[2::2]))
        for name, body in named.items():
            if not name.endswith(b".tsu"):
                continue
            stdin = named.get(b"in", b"")
            n += 1
            path = os.path.join(out, "e2e-%d-%s" % (n, f.replace(".test", ".tsu")))
            with open(path, "wb") as fh:
                fh.write(body + (b"\x1a" + stdin if stdin else b""))
PY
echo "seed corpus: $(ls "$out" | wc -l) files in $out"
