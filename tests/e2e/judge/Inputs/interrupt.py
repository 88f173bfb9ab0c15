#!/usr/bin/env python3
"""Interrupts the judge as a teacher at a terminal would, with Ctrl-C.

    interrupt.py JUDGE FOLDER

In FOLDER, judges class/ on cases/ with standard error on a terminal (a
pseudo-terminal), waits until the progress line says the first submission's
runs are judged, sends SIGINT, and prints what a test checks: the exit
status, whether the progress line was seen, the JSON report, and whether any
process the judge started is still alive.
"""
import os
import pty
import select
import signal
import subprocess
import sys
import time


def survivors(folder):
    """The processes whose command line names FOLDER (the judge's workers and runs)."""
    found = []
    for pid in os.listdir("/proc"):
        if not pid.isdigit() or int(pid) == os.getpid():
            continue
        try:
            with open(f"/proc/{pid}/cmdline", "rb") as f:
                if folder.encode() in f.read():
                    found.append(pid)
        except OSError:
            pass
    return found


def main():
    judge, folder = sys.argv[1], os.path.abspath(sys.argv[2])
    main_end, terminal = pty.openpty()
    judge_process = subprocess.Popen(
        [judge, "--cases", f"{folder}/cases", "--steps", "100000000000", "--jobs", "1",
         "--json", f"{folder}/r.jsonl", f"{folder}/class"],
        stdout=subprocess.DEVNULL, stderr=terminal, stdin=subprocess.DEVNULL)
    os.close(terminal)
    seen = b""
    deadline = time.monotonic() + 60
    while b"2/4" not in seen and time.monotonic() < deadline:
        if not select.select([main_end], [], [], 1)[0]:
            continue
        try:
            seen += os.read(main_end, 4096)
        except OSError:
            break
    judge_process.send_signal(signal.SIGINT)
    try:
        status = judge_process.wait(timeout=60)
    except subprocess.TimeoutExpired:
        judge_process.kill()
        status = "still running after SIGINT"
    try:
        while select.select([main_end], [], [], 1)[0]:
            chunk = os.read(main_end, 4096)
            if not chunk:
                break
            seen += chunk
    except OSError:
        pass
    time.sleep(0.2)
    print(f"status {status}")
    print("progress seen" if "判定中 2/4 (50%)".encode() in seen else f"no progress: {seen!r}")
    print("interrupted said" if "中断しました".encode() in seen else "interrupted not said")
    with open(f"{folder}/r.jsonl", encoding="utf-8") as f:
        sys.stdout.write(f.read())
    print(f"left running: {len(survivors(folder))}")


if __name__ == "__main__":
    main()
