#!/usr/bin/env python3
"""What loading a backend's library adds to the start of a process.

    bench/backends/startup.py build/backends [--runs 50]

Runs null-plain, null-llvm and null-gccjit (the same empty main, the last
two linked with libLLVM-14 and libgccjit), and tsumiki-backends with
libLLVM-14 and with LLVM's static libraries (both with libgccjit), doing
nothing but print one line, `runs` times each, interleaved, and prints the
median wall and CPU time of each in ms.
"""
import argparse
import os
import statistics
import subprocess
import time


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("build")
    ap.add_argument("--runs", type=int, default=50)
    a = ap.parse_args()
    names = ["null-plain", "null-llvm", "null-gccjit", "tsumiki-backends", "tsumiki-backends-static"]
    wall = {n: [] for n in names}
    cpu = {n: [] for n in names}
    for _ in range(a.runs):
        for n in names:
            argv = [os.path.join(a.build, n)]
            if n.startswith("tsumiki"):
                argv += ["--source", "1"]
            t0 = time.monotonic()
            proc = subprocess.Popen(argv, stdout=subprocess.DEVNULL)
            _, _, usage = os.wait4(proc.pid, 0)
            wall[n].append((time.monotonic() - t0) * 1000)
            cpu[n].append((usage.ru_utime + usage.ru_stime) * 1000)
    print("| program | wall ms | CPU ms |")
    print("|---|---:|---:|")
    for n in names:
        print(f"| {n} | {statistics.median(wall[n]):.2f} | {statistics.median(cpu[n]):.2f} |")


if __name__ == "__main__":
    main()
