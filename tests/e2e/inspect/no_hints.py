#!/usr/bin/env python3
"""Hints never fire on a correct program.

    no_hints.py INSPECT EXAMPLES_DIR E2E_DIR WORK_DIR

Every sample program and every program of the end-to-end tests (the
"#--- NAME.tsu" parts of the .test files) goes through `INSPECT check`.
Those that compile must print nothing at all.  Every sample, and the
first such program of each .test file, that ends in "end." and a line break
is then checked once more without that line break: the error must carry
exactly the hint for it, and no other line that starts like a hint.
"""
import os
import re
import subprocess
import sys

HINT = "ヒント: "
FINAL_BREAK = HINT + "最後のピリオドのあとに改行がありません。ピリオドのあとで改行して下さい\n"


def programs(examples, e2e):
    for name in sorted(os.listdir(examples)):
        if name.endswith(".tsu"):
            with open(os.path.join(examples, name), "rb") as f:
                yield "examples/" + name, f.read()
    for root, _, files in sorted(os.walk(e2e)):
        for name in sorted(files):
            if not name.endswith(".test"):
                continue
            with open(os.path.join(root, name), "rb") as f:
                parts = re.split(rb"^#--- (.*)\n", f.read(), flags=re.M)
            for i in range(1, len(parts) - 1, 2):
                if parts[i].endswith(b".tsu"):
                    yield f"{name}:{parts[i].decode()}", parts[i + 1]
            yield None, None  # the end of a file


def check(inspect, path):
    run = subprocess.run([inspect, "check", "--utf8", path], stdout=subprocess.PIPE,
                         stdin=subprocess.DEVNULL, timeout=60)
    return run.returncode, run.stdout.decode("utf-8", "replace")


def main():
    inspect, examples, e2e, work = sys.argv[1:5]
    os.makedirs(work, exist_ok=True)
    path = os.path.join(work, "program.tsu")
    failures, correct, cut = [], 0, 0
    cut_this_file = True
    for name, text in programs(examples, e2e):
        if name is None:
            cut_this_file = True
            continue
        with open(path, "wb") as f:
            f.write(text)
        status, out = check(inspect, path)
        if status != 0:
            continue
        correct += 1
        if out:
            failures.append(f"{name}: compiles, yet check printed:\n{out}")
        if not cut_this_file or not re.search(rb"end\.\r?\n$", text):
            continue
        cut_this_file = name.startswith("examples/")
        with open(path, "wb") as f:
            f.write(text.rstrip(b"\r\n"))
        cut += 1
        status, out = check(inspect, path)
        hints = [line + "\n" for line in out.splitlines() if line.startswith(HINT)]
        if status != 1 or hints != [FINAL_BREAK]:
            failures.append(f"{name} without its final line break:\n{out}")
    print(f"{correct} programs compile, {cut} checked without their final line break")
    for failure in failures:
        print(failure)
    return 1 if failures or correct < 100 else 0


if __name__ == "__main__":
    sys.exit(main())
