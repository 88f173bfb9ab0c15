#!/usr/bin/env python3
"""The optimising tier's own figures for the programs of tsumiki-backends.

    bench/backends/tier.py --tsumiki build/ci/tsumiki --backends build/backends/tsumiki-backends
                           [--runs 5] [--statements 990] [--twins build/ci/bench]

Runs each program under TSUMIKI_ENGINE=optimising with TSUMIKI_DEBUG_TIER=1
`runs` times and prints a Markdown table: the compile time the tier reports
("compiled N instructions in X us"), the CPU time of the whole process
(user + system, median), and an estimate of the compiled code's run time:
that CPU time less the CPU time of examples/hello.tsu on the same engine and
less the difference of their compile times.  With --twins, the C twins'
CPU time (bench-c-NAME, less that of a C program that does nothing) for
comparison.  Every run's output is checked against bench/programs/NAME.out.
"""
import argparse
import os
import re
import statistics
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))


def run(cmd, stdin_bytes, env):
    """Runs cmd; returns (stdout, stderr, CPU seconds of the child)."""
    r, w = os.pipe()
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        proc = subprocess.Popen(cmd, stdin=r, stdout=out, stderr=err, env=env)
        os.close(r)
        os.write(w, stdin_bytes)
        os.close(w)
        _, status, usage = os.wait4(proc.pid, 0)
        proc.returncode = os.waitstatus_to_exitcode(status)
        out.seek(0)
        err.seek(0)
        return out.read(), err.read(), usage.ru_utime + usage.ru_stime


def tier(tsumiki, source, stdin_bytes, expected, runs):
    env = dict(os.environ, TSUMIKI_ENGINE="optimising", TSUMIKI_DEBUG_TIER="1")
    cpus, compiles, count = [], [], None
    for _ in range(runs):
        out, err, cpu = run([tsumiki, source], stdin_bytes, env)
        if expected is not None and out != expected:
            sys.exit(f"{source}: wrong output on the optimising engine")
        m = re.search(rb"compiled (\d+) instructions in (\d+) us", err)
        if not m:
            sys.exit(f"{source}: no compile time in {err[:200]!r}")
        count = int(m.group(1))
        compiles.append(int(m.group(2)) / 1000.0)
        cpus.append(cpu * 1000.0)
    return count, statistics.median(compiles), statistics.median(cpus)


def twin(path, runs):
    return statistics.median(run([path], b"", os.environ)[2] * 1000.0 for _ in range(runs))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--tsumiki", required=True)
    ap.add_argument("--backends", required=True)
    ap.add_argument("--runs", type=int, default=5)
    ap.add_argument("--statements", type=int, default=990)
    ap.add_argument("--twins")
    a = ap.parse_args()
    programs = os.path.join(ROOT, "bench", "programs")
    hello = os.path.join(ROOT, "examples", "hello.tsu")
    _, hello_compile, hello_cpu = tier(a.tsumiki, hello, b"", None, a.runs)
    print(f"hello on the optimising engine: {hello_cpu:.2f} ms CPU, compiled in {hello_compile:.2f} ms")
    null_twin = None
    if a.twins:
        with tempfile.TemporaryDirectory() as d:
            c = os.path.join(d, "null.c")
            with open(c, "w") as f:
                f.write("int main(void) { return 0; }\n")
            subprocess.run(["cc", "-O2", "-o", os.path.join(d, "null"), c], check=True)
            null_twin = twin(os.path.join(d, "null"), a.runs)
    print()
    print("| program | instructions | compile ms | process CPU ms | run ms (estimate) | C -O2 run ms |")
    print("|---|---:|---:|---:|---:|---:|")
    for name in ["loops", "matrix", "fib"]:
        with open(os.path.join(programs, name + ".out"), "rb") as f:
            expected = f.read()
        count, compile_ms, cpu = tier(a.tsumiki, os.path.join(programs, name + ".tsu"), b"", expected, a.runs)
        estimate = cpu - hello_cpu - (compile_ms - hello_compile)
        c = ""
        if a.twins:
            c = f"{twin(os.path.join(a.twins, 'bench-c-' + name), a.runs) - null_twin:.1f}"
        print(f"| {name} | {count} | {compile_ms:.2f} | {cpu:.1f} | {estimate:.1f} | {c} |")
        sys.stdout.flush()
    for name, option in [("straight", "--source"), ("chain", "--chain-source")]:
        with tempfile.TemporaryDirectory() as d:
            source = os.path.join(d, name + ".tsu")
            with open(source, "wb") as f:
                f.write(subprocess.run([a.backends, option, str(a.statements)], check=True,
                                       capture_output=True).stdout)
            count, compile_ms, cpu = tier(a.tsumiki, source, b"3\n5\n7\n", None, a.runs)
            print(f"| {name} | {count} | {compile_ms:.2f} | {cpu:.1f} | | |")
            sys.stdout.flush()

if __name__ == "__main__":
    main()
