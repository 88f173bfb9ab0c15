#!/usr/bin/env python3
"""Hints and warnings never fire on a correct program.

    correct_programs.py INSPECT EXAMPLES_DIR E2E_DIR WORK_DIR

Every sample program and every program of the end-to-end tests (the
"#--- NAME.tsu" parts of the .test files) goes through `INSPECT check`.
Those that compile must print nothing at all, but for the programs that
make a slip on purpose (SLIPS below), which must print exactly their
warnings, at the places listed.  Every sample, and the first such program of
each .test file, that ends in "end." and a line break is then checked once
more without that line break: the error must carry exactly the hint for it,
and no other line that starts like a hint.
"""
import os
import re
import subprocess
import sys

HINT = "ヒント: "
FINAL_BREAK = HINT + "最後のピリオドのあとに改行がありません。ピリオドのあとで改行して下さい\n"
WARNING = re.compile(r"^program\.tsu:(\d+):(\d+): 警告: ", re.M)

# The test programs that show what a slip does, "FOLDER/FILE.test:NAME.tsu",
# with the LINE:COLUMN of each warning they get.  Any other program that
# compiles is meant to be correct and gets none, but for those of this
# folder, whose tests say exactly what each gets.
SLIPS = {
    "calls/passing.test:count.tsu": ["5:23", "7:12"],
    "calls/results.test:results.tsu": ["12:10", "23:9"],
    "calls/reused.test:reused.tsu": ["8:23", "11:8", "12:8"],
    "debug/hostile.test:links.tsu": ["6:5"],
    "errors/calls.test:enough.tsu": ["5:37"],
    "hostile/arrays.test:far-store.tsu": ["3:9"],
    "hostile/arrays.test:far-load.tsu": ["3:23"],
    "hostile/arrays.test:max-index.tsu": ["3:13", "3:15"],
    "hostile/arrays.test:last-cell.tsu": ["3:14", "3:29"],
    "hostile/arrays.test:past-last.tsu": ["3:14"],
    "hostile/corrupt.test:static-far.tsu": ["5:33"],
    "inspect/check_terminal.test:warned.tsu": ["3:10", "8:9", "8:15"],
    "inspect/run_errors.test:div.tsu": ["6:19"],
    "inspect/run_errors.test:wild_read.tsu": ["5:9"],
    "inspect/run_errors.test:wild_store.tsu": ["5:5"],
    "inspect/run_errors.test:wild_input.tsu": ["4:10"],
    "runtime/bounds.test:neighbours.tsu": ["6:9", "6:11", "7:11"],
    "runtime/bounds.test:outside.tsu": ["5:5"],
    "runtime/stale.test:result.tsu": ["4:10"],
    "runtime/stale.test:never-used.tsu": ["2:10"],
    "runtime/stale.test:local.tsu": ["7:13"],
    "scopes/frames.test:stale.tsu": ["7:13", "7:23"],
    "scopes/frames.test:main_params.tsu": ["3:33"],
    "scopes/frames.test:own_name.tsu": ["5:10"],
    "statements/assign.test:bounds.tsu": ["5:5", "8:11"],
}


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
            folder = os.path.relpath(root, e2e)
            if folder == "warnings":
                continue
            for i in range(1, len(parts) - 1, 2):
                if parts[i].endswith(b".tsu"):
                    yield f"{folder}/{name}:{parts[i].decode()}", parts[i + 1]
            yield None, None  # the end of a file


def check(inspect, path):
    run = subprocess.run([inspect, "check", "--utf8", os.path.basename(path)],
                         stdout=subprocess.PIPE, stdin=subprocess.DEVNULL, timeout=60,
                         cwd=os.path.dirname(path))
    return run.returncode, run.stdout.decode("utf-8", "replace")


def main():
    inspect, examples, e2e, work = sys.argv[1:5]
    os.makedirs(work, exist_ok=True)
    path = os.path.join(work, "program.tsu")
    failures, correct, slips, cut = [], 0, set(), 0
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
        places = [f"{m.group(1)}:{m.group(2)}" for m in WARNING.finditer(out)]
        if name in SLIPS:
            slips.add(name)
            if places != SLIPS[name] or len(out.splitlines()) != 3 * len(places):
                failures.append(f"{name}: warnings expected at {SLIPS[name]}, check printed:\n{out}")
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
    for name in sorted(set(SLIPS) - slips):
        failures.append(f"{name}: listed with its warnings, but no such program compiles")
    print(f"{correct} correct programs compile without a word, {len(slips)} with their "
          f"warnings, {cut} checked without their final line break")
    for failure in failures:
        print(failure)
    return 1 if failures or correct < 100 else 0


if __name__ == "__main__":
    sys.exit(main())
