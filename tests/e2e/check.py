#!/usr/bin/env python3
"""Runs a program and compares its standard output and exit status exactly.

    check.py BINARY [ARGS...] [--stdin FILE] [--expect FILE] [--status N] [--raw] [--utf8]

BINARY runs with ARGS (usually the source file), standard input from FILE
(empty without --stdin).  Its standard output is decoded from code page 932
and must equal the expected file, a UTF-8 text, byte for byte; with --utf8
it is decoded from UTF-8 instead, with --raw the bytes are compared
undecoded.  --expect-text gives the expected output inline instead, with \\n
for line breaks.  The exit status must be N (default 0).  A signal, a
timeout or any difference fails with a diff.
"""
import difflib
import subprocess
import sys


def main():
    args = sys.argv[1:]
    command, stdin_path, expect, status, raw, utf8 = [], None, None, 0, False, False
    i = 0
    while i < len(args):
        a = args[i]
        if a == "--stdin":
            stdin_path = args[i + 1]; i += 2
        elif a == "--expect":
            with open(args[i + 1], "rb") as f:
                expect = f.read()
            i += 2
        elif a == "--expect-text":
            expect = args[i + 1].replace("\\n", "\n").encode("utf-8"); i += 2
        elif a == "--status":
            status = int(args[i + 1]); i += 2
        elif a == "--raw":
            raw = True; i += 1
        elif a == "--utf8":
            utf8 = True; i += 1
        else:
            command.append(a); i += 1
    stdin = open(stdin_path, "rb") if stdin_path else subprocess.DEVNULL
    try:
        run = subprocess.run(command, stdin=stdin, stdout=subprocess.PIPE, timeout=120)
    except subprocess.TimeoutExpired:
        print("timed out: " + " ".join(command))
        return 1
    out = run.stdout
    if not raw:
        encoding = "utf-8" if utf8 else "cp932"
        try:
            out = out.decode(encoding).encode("utf-8")
        except UnicodeDecodeError as e:
            print(f"output is not {encoding} text: {e}")
            print(repr(run.stdout[:400]))
            return 1
    failed = False
    if run.returncode != status:
        print(f"exit status {run.returncode}, expected {status}")
        failed = True
    if expect is not None and out != expect:
        print("standard output differs (- expected, + actual):")
        a = expect.decode("utf-8", "replace").splitlines(keepends=True)
        b = out.decode("utf-8", "replace").splitlines(keepends=True)
        sys.stdout.writelines(repr(line) + "\n" for line in difflib.unified_diff(a, b, n=2))
        failed = True
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
