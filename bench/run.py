#!/usr/bin/env python3
"""Times tsumiki against the baseline interpreter, Lua 5.4 and LuaJIT.

    bench/run.py [--runs N] [--only NAME[,NAME...]] [--clock cpu|wall] [--no-build]

Builds a release tsumiki, the code lister and the baseline interpreter in
build/bench, installs lua5.4 and luajit from Debian when they are missing,
and generates the read benchmark's input.  Then it checks the output of
every program under every implementation against its expected output, and
only when all agree times them: N rounds (default 5), each running every
program once under every implementation, the implementations in a different
order each round.  The table gives each one's median in seconds and its
ratio to tsumiki (above 1: tsumiki is faster), and the geometric means.

The clock is the CPU time of the process (user + system) by default, which
other work on a shared machine disturbs least; --clock wall measures the
elapsed time instead.  The baseline's time does not include printing its
listing, which is made once beforehand.
"""
import argparse
import math
import os
import resource
import shutil
import statistics
import subprocess
import sys
import time

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
import check_output  # noqa: E402

BENCH = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(BENCH)
BUILD = os.path.join(ROOT, "build", "bench")
TOOLS = os.path.join(BUILD, "bench")  # where bench/CMakeLists.txt puts its programs
DATA = os.path.join(BUILD, "bench-data")
PROGRAMS = os.path.join(BENCH, "programs")

# Every benchmark, in the order of the table.
NAMES = ["loops", "fib", "tak", "sieve", "sort", "gcd", "nested", "matrix", "write", "read"]
IMPLEMENTATIONS = ["tsumiki", "baseline", "lua5.4", "luajit -joff"]


def say(text):
    print(text, file=sys.stderr, flush=True)


def ensure_lua():
    missing = [pkg for pkg, exe in (("lua5.4", "lua5.4"), ("luajit", "luajit")) if not shutil.which(exe)]
    if not missing:
        return
    say(f"installing {' '.join(missing)}")
    sudo = [] if os.geteuid() == 0 else ["sudo"]
    env = dict(os.environ, DEBIAN_FRONTEND="noninteractive")
    subprocess.run(sudo + ["apt-get", "update", "-qq"], check=True, env=env)
    subprocess.run(sudo + ["apt-get", "install", "-y", "-qq"] + missing, check=True, env=env)


def build():
    say("building a release tsumiki in build/bench")
    subprocess.run(["cmake", "-S", ROOT, "-B", BUILD, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Release",
                    "-DTSUMIKI_TESTS=OFF"], check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", BUILD, "-j2", "--target", "tsumiki", "tsumiki-listcode",
                    "tsumiki-baseline"], check=True, stdout=subprocess.DEVNULL)


def prepare(names):
    """Listings for the baseline and the read input; returns stdin paths."""
    os.makedirs(DATA, exist_ok=True)
    read_input = os.path.join(DATA, "read.in")
    generator = os.path.join(BENCH, "gen_input.py")
    if not os.path.exists(read_input) or os.path.getmtime(read_input) < os.path.getmtime(generator):
        subprocess.run([sys.executable, generator, read_input], check=True)
    for name in names:
        with open(os.path.join(DATA, name + ".lst"), "wb") as out:
            subprocess.run([os.path.join(TOOLS, "tsumiki-listcode"), source(name, ".tsu")],
                           stdout=out, check=True)
    return {name: read_input if name == "read" else None for name in names}


def source(name, suffix):
    return os.path.join(PROGRAMS, name + suffix)


def command(impl, name):
    if impl == "tsumiki":
        return [os.path.join(BUILD, "tsumiki"), source(name, ".tsu")]
    if impl == "baseline":
        return [os.path.join(TOOLS, "tsumiki-baseline"), os.path.join(DATA, name + ".lst")]
    if impl == "lua5.4":
        return ["lua5.4", source(name, ".lua")]
    return ["luajit", "-joff", source(name, ".lua")]


def expected(name):
    path = source(name, ".out")
    return path if os.path.exists(path) else source(name, ".sha256")


def timed_run(cmd, stdin_path, clock):
    """Runs cmd with its output discarded; returns the seconds it took."""
    stdin = open(stdin_path, "rb") if stdin_path else subprocess.DEVNULL
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.perf_counter()
    try:
        run = subprocess.run(cmd, stdin=stdin, stdout=subprocess.DEVNULL)
    finally:
        if stdin_path:
            stdin.close()
    wall = time.perf_counter() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    if run.returncode != 0:
        raise RuntimeError(f"{' '.join(cmd)}: exit status {run.returncode}")
    if clock == "wall":
        return wall
    return (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)


def geomean(values):
    return math.exp(sum(math.log(v) for v in values) / len(values))


def table(names, medians):
    head = "| program | " + " | ".join(IMPLEMENTATIONS) + " |"
    rule = "|---|" + "---:|" * len(IMPLEMENTATIONS)
    lines = [head, rule]

    def row(label, times):
        cells = [f"{times[0]:.2f}"]
        cells += [f"{t:.2f} ({t / times[0]:.2f}x)" for t in times[1:]]
        return f"| {label} | " + " | ".join(cells) + " |"

    for name in names:
        lines.append(row(name, [medians[name][impl] for impl in IMPLEMENTATIONS]))
    means = [geomean([medians[name][impl] for name in names]) for impl in IMPLEMENTATIONS]
    lines.append(row("geometric mean", means))
    return "\n".join(lines)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--only", help="comma-separated benchmark names")
    parser.add_argument("--clock", choices=["cpu", "wall"], default="cpu")
    parser.add_argument("--no-build", action="store_true", help="use build/bench as it is")
    args = parser.parse_args()
    names = args.only.split(",") if args.only else NAMES
    for name in names:
        if name not in NAMES:
            parser.error(f"no benchmark {name}")

    ensure_lua()
    if not args.no_build:
        build()
    stdin = prepare(names)

    say("checking every output")
    failures = 0
    for name in names:
        for impl in IMPLEMENTATIONS:
            problem = check_output.check(expected(name), command(impl, name), stdin[name], timeout=120)
            if problem:
                say(f"  {name} under {impl}: {problem}")
                failures += 1
    if failures:
        say(f"{failures} wrong outputs: no timing")
        return 1

    times = {name: {impl: [] for impl in IMPLEMENTATIONS} for name in names}
    for r in range(args.runs):
        say(f"round {r + 1} of {args.runs}")
        order = IMPLEMENTATIONS[r % len(IMPLEMENTATIONS):] + IMPLEMENTATIONS[:r % len(IMPLEMENTATIONS)]
        for name in names:
            for impl in order:
                times[name][impl].append(timed_run(command(impl, name), stdin[name], args.clock))
    medians = {name: {impl: statistics.median(ts) for impl, ts in per.items()} for name, per in times.items()}

    what = "CPU time (user + system)" if args.clock == "cpu" else "elapsed time"
    print(f"Median {what} in seconds of {args.runs} runs; in parentheses the ratio to tsumiki.")
    print()
    print(table(names, medians))
    return 0


if __name__ == "__main__":
    sys.exit(main())
