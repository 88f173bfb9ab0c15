#!/usr/bin/env python3
"""Holds a conversation with a running program through pipes.

    converse.py BINARY SOURCE [--wait TEXT | --send TEXT]... [--rest TEXT] [--status N]

--wait reads standard output until it has grown by TEXT and checks that it
did, without sending anything first: the program must have written (and
flushed) TEXT before it waits for input.  --send writes TEXT to the
program's standard input.  --rest closes the input and checks the rest of
the output; the exit status must then be N (default 0).  Texts are UTF-8
with \\n for line breaks; the program writes code page 932.
"""
import os
import select
import subprocess
import sys
import time

TIMEOUT = 10.0


def encode(text):
    return text.replace("\\n", "\n").replace("\\t", "\t").encode("cp932")


def main():
    binary, source, steps = sys.argv[1], sys.argv[2], sys.argv[3:]
    run = subprocess.Popen([binary, source], stdin=subprocess.PIPE, stdout=subprocess.PIPE)
    out = os.dup(run.stdout.fileno())
    seen, expected = b"", b""
    status = 0
    i = 0
    while i < len(steps):
        what, text = steps[i], steps[i + 1]
        i += 2
        if what == "--wait":
            expected += encode(text)
            deadline = time.monotonic() + TIMEOUT
            while len(seen) < len(expected):
                left = deadline - time.monotonic()
                ready = select.select([out], [], [], max(left, 0))[0] if left > 0 else []
                if not ready:
                    break
                chunk = os.read(out, 4096)
                if not chunk:
                    break
                seen += chunk
            if seen != expected:
                print(f"while waiting for input the program had written {seen.decode('cp932', 'replace')!r},"
                      f" expected {expected.decode('cp932', 'replace')!r}")
                run.kill()
                return 1
        elif what == "--send":
            run.stdin.write(encode(text))
            run.stdin.flush()
        elif what == "--rest":
            expected += encode(text)
        elif what == "--status":
            status = int(text)
        else:
            print(f"unknown step {what}")
            run.kill()
            return 1
    run.stdin.close()
    try:
        run.wait(timeout=TIMEOUT)
    except subprocess.TimeoutExpired:
        run.kill()
        print("the program did not end")
        return 1
    while True:
        chunk = os.read(out, 4096)
        if not chunk:
            break
        seen += chunk
    failed = False
    if seen != expected:
        print(f"output {seen.decode('cp932', 'replace')!r}, expected {expected.decode('cp932', 'replace')!r}")
        failed = True
    if run.returncode != status:
        print(f"exit status {run.returncode}, expected {status}")
        failed = True
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
