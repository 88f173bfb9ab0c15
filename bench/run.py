#!/usr/bin/env python3
"""Times tsumiki's engines against the baseline, Lua 5.4, LuaJIT and C.

    bench/run.py [--runs N] [--only NAME[,NAME...]] [--impls IMPL[,IMPL...]]
                 [--clock cpu|wall] [--no-build]

Builds a release tsumiki, the code lister, the baseline interpreter and the
C twins in build/bench, installs lua5.4 and luajit from Debian when they are
missing, and generates the read benchmark's input.  Then it checks the
output of every program under every implementation against its expected
output, and only when all agree times them: N rounds (default 5), each
running every program once under every implementation, the implementations
in a different order each round.

The implementations: tsumiki with its default engine (the tiered engine
where the native and optimising tiers are built), tsumiki with
TSUMIKI_ENGINE=native (the native tier alone), with
TSUMIKI_ENGINE=optimising (the speculating tier from the start), with
TSUMIKI_ENGINE=interpreter, the baseline, Lua
5.4, LuaJIT with its JIT off and on, and the C twins (-O2).  The first table
gives each one's median in seconds and its ratio to tsumiki (above 1:
tsumiki is faster), with the geometric means last; the second the ratios
the targets are stated in, and a list says which targets the run met.

The clock is the CPU time of the process (user + system) by default, which
other work on a shared machine disturbs least; --clock wall measures the
elapsed time instead.  The baseline's time does not include printing its
listing, which is made once beforehand.  The raw times of the last run go
to build/bench/bench-data/times.json.
"""
import argparse
import json
import math
import os
import platform
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
DEFAULT, NATIVE, OPT, INTERP, BASELINE, LUA, LUAJIT_INTERP, LUAJIT, C = (
    "tsumiki", "tsumiki -native", "tsumiki -opt", "tsumiki -interp", "baseline", "lua5.4",
    "luajit -joff", "luajit", "C -O2")
IMPLEMENTATIONS = [DEFAULT, NATIVE, OPT, INTERP, BASELINE, LUA, LUAJIT_INTERP, LUAJIT, C]
# The programs that compute rather than read or write.
COMPUTING = [name for name in NAMES if name not in ("read", "write")]


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
    twins = ["bench-c-" + name for name in NAMES]
    subprocess.run(["cmake", "--build", BUILD, "-j2", "--target", "tsumiki", "tsumiki-listcode",
                    "tsumiki-baseline"] + twins, check=True, stdout=subprocess.DEVNULL)


def cache(variable):
    """The value of a variable in build/bench's CMake cache, or None."""
    try:
        with open(os.path.join(BUILD, "CMakeCache.txt"), encoding="utf-8") as f:
            for line in f:
                if line.startswith(variable + ":"):
                    return line.split("=", 1)[1].strip()
    except OSError:
        pass
    return None


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


# Every implementation runs with this environment; only tsumiki's other
# engines add their choice, so that its default engine is the one timed.
CLEAN_ENV = {k: v for k, v in os.environ.items() if k != "TSUMIKI_ENGINE"}
NATIVE_ENV = dict(CLEAN_ENV, TSUMIKI_ENGINE="native")
INTERP_ENV = dict(CLEAN_ENV, TSUMIKI_ENGINE="interpreter")
OPT_ENV = dict(CLEAN_ENV, TSUMIKI_ENGINE="optimising")


def command(impl, name):
    """The command line and environment that run benchmark name under impl."""
    if impl == DEFAULT:
        return [os.path.join(BUILD, "tsumiki"), source(name, ".tsu")], CLEAN_ENV
    if impl == NATIVE:
        return [os.path.join(BUILD, "tsumiki"), source(name, ".tsu")], NATIVE_ENV
    if impl == INTERP:
        return [os.path.join(BUILD, "tsumiki"), source(name, ".tsu")], INTERP_ENV
    if impl == OPT:
        return [os.path.join(BUILD, "tsumiki"), source(name, ".tsu")], OPT_ENV
    if impl == BASELINE:
        return [os.path.join(TOOLS, "tsumiki-baseline"), os.path.join(DATA, name + ".lst")], CLEAN_ENV
    if impl == LUA:
        return ["lua5.4", source(name, ".lua")], CLEAN_ENV
    if impl == LUAJIT_INTERP:
        return ["luajit", "-joff", source(name, ".lua")], CLEAN_ENV
    if impl == LUAJIT:
        return ["luajit", source(name, ".lua")], CLEAN_ENV
    return [os.path.join(TOOLS, "bench-c-" + name)], CLEAN_ENV


def expected(name):
    path = source(name, ".out")
    return path if os.path.exists(path) else source(name, ".sha256")


def timed_run(cmd, env, stdin_path, clock):
    """Runs cmd with its output discarded; returns the seconds it took."""
    stdin = open(stdin_path, "rb") if stdin_path else subprocess.DEVNULL
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.perf_counter()
    try:
        run = subprocess.run(cmd, stdin=stdin, stdout=subprocess.DEVNULL, env=env)
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


def first_line(cmd):
    """The first line a version query prints (to either stream), or '?'."""
    try:
        run = subprocess.run(cmd, capture_output=True, text=True, timeout=10)
    except (OSError, subprocess.TimeoutExpired):
        return "?"
    lines = (run.stdout + run.stderr).strip().splitlines()
    return lines[0] if lines else "?"


def machine():
    """What the run ran on, as one paragraph."""
    model = "?"
    lscpu = subprocess.run(["lscpu"], capture_output=True, text=True).stdout
    for line in lscpu.splitlines():
        if line.startswith("Model name:"):
            model = line.split(":", 1)[1].strip()
    c_compiler = cache("CMAKE_C_COMPILER") or "cc"
    cxx_compiler = cache("CMAKE_CXX_COMPILER") or "c++"
    if cache("TSUMIKI_NATIVE") != "ON":
        engine = "the interpreter (no native tier built)"
    elif cache("TSUMIKI_OPTIMISING") != "ON":
        engine = "the native tier (no optimising tier built)"
    else:
        engine = "tiered"
    return (f"Machine: {platform.system()} {platform.machine()}, nproc {os.cpu_count()}, "
            f"lscpu model name \"{model}\". tsumiki built by {first_line([cxx_compiler, '--version'])} "
            f"(Release), its default engine {engine}; C twins by {first_line([c_compiler, '--version'])} "
            f"(-O2 -fwrapv); {lua_version('lua5.4')}; {lua_version('luajit')}.")


def lua_version(exe):
    """'Lua 5.4.4' or 'LuaJIT 2.1.0-beta3', without the copyright."""
    return " ".join(first_line([exe, "-v"]).split()[:2])


def geomean(values):
    return math.exp(sum(math.log(max(v, 1e-6)) for v in values) / len(values))


def seconds(t):
    return f"{t:.3f}" if t < 0.1 else f"{t:.2f}"


def times_table(names, impls, medians):
    """Every median, and for the others their ratio to the first column."""
    lines = ["| program | " + " | ".join(impls) + " |", "|---|" + "---:|" * len(impls)]

    def row(label, times):
        cells = [seconds(times[0])] + [f"{seconds(t)} ({t / times[0]:.2f}x)" for t in times[1:]]
        return f"| {label} | " + " | ".join(cells) + " |"

    for name in names:
        lines.append(row(name, [medians[name][impl] for impl in impls]))
    lines.append(row("geometric mean", [geomean([medians[name][impl] for name in names]) for impl in impls]))
    return "\n".join(lines)


# The ratios the targets are stated in: the time of the first divided by the
# time of the second, so that above 1 the second is faster.
RATIOS = [(LUAJIT, DEFAULT), (C, DEFAULT), (LUAJIT_INTERP, DEFAULT), (LUA, DEFAULT),
          (BASELINE, DEFAULT), (NATIVE, DEFAULT), (LUAJIT, OPT), (C, OPT), (BASELINE, INTERP),
          (LUA, INTERP)]
SHORT = {DEFAULT: "default", NATIVE: "native", OPT: "opt", INTERP: "interp"}


def ratio(medians, names, over, under):
    """over's time / under's time: per program, and their geometric mean."""
    per = {name: medians[name][over] / max(medians[name][under], 1e-6) for name in names}
    return per, geomean(list(per.values()))


def ratios_table(names, impls, medians):
    pairs = [(o, u) for o, u in RATIOS if o in impls and u in impls]
    if not pairs:
        return None
    lines = ["| program | " + " | ".join(f"{o} / {SHORT[u]}" for o, u in pairs) + " |",
             "|---|" + "---:|" * len(pairs)]
    columns = [ratio(medians, names, o, u) for o, u in pairs]
    for name in names:
        lines.append(f"| {name} | " + " | ".join(f"{per[name]:.2f}" for per, _ in columns) + " |")
    lines.append("| geometric mean | " + " | ".join(f"{mean:.2f}" for _, mean in columns) + " |")
    return "\n".join(lines)


def targets(names, impls, medians):
    """The issue's targets, each with its figure and whether it was met."""
    out = []

    def mean_target(what, over, under, bound, among=None):
        if over in impls and under in impls:
            _, mean = ratio(medians, among or names, over, under)
            verdict = "met" if mean >= bound else "NOT met"
            out.append(f"- {what}: {over} / {SHORT[under]} = {mean:.2f} "
                       f"(needs {'above' if bound == 1 else 'at least'} {bound:.2f}): {verdict}")

    # Each program's ratio above 1 (faster), or at least `bound` when given.
    def every_target(what, over, under, among=None, bound=None):
        among = among or names
        if over in impls and under in impls and among:
            per, _ = ratio(medians, among, over, under)
            meets = (lambda r: r > 1) if bound is None else (lambda r: r >= bound)
            losses = [f"{name} {per[name]:.2f}" for name in among if not meets(per[name])]
            verdict = "met" if not losses else "NOT met (" + ", ".join(losses) + ")"
            out.append(f"- {what}: {sum(1 for n in among if meets(per[n]))} of {len(among)} "
                       f"programs, lowest {over} / {SHORT[under]} {min(per.values()):.2f}: {verdict}")

    computing = [name for name in names if name in COMPUTING]
    if computing:
        every_target("default engine at least 1.5x LuaJIT with its JIT on, every computing program",
                     LUAJIT, DEFAULT, computing, 1.5)
        mean_target("default engine near the C twins, computing programs' geometric mean",
                    C, DEFAULT, 0.7, computing)
    every_target("default engine faster than LuaJIT's interpreter on every program", LUAJIT_INTERP, DEFAULT)
    every_target("default engine faster than Lua 5.4 on every program", LUA, DEFAULT)
    every_target("default engine faster than the baseline on every program", BASELINE, DEFAULT)
    mean_target("default engine faster than LuaJIT with its JIT on, geometric mean", LUAJIT, DEFAULT, 1)
    if computing:
        every_target("optimising faster than LuaJIT with its JIT on, every computing program",
                     LUAJIT, OPT, computing)
        mean_target("optimising within 2x of the C twins, computing programs' geometric mean",
                    C, OPT, 0.5, computing)
    mean_target("interpreter at least 3x the baseline, geometric mean", BASELINE, INTERP, 3)
    mean_target("interpreter ahead of Lua 5.4, geometric mean", LUA, INTERP, 1)
    every_target("interpreter ahead of Lua 5.4 on every program", LUA, INTERP)
    return "\n".join(out)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--runs", type=int, default=5, help="rounds to time (default 5)")
    parser.add_argument("--only", help="comma-separated benchmark names")
    parser.add_argument("--impls", help="comma-separated implementations, of: " + ", ".join(IMPLEMENTATIONS))
    parser.add_argument("--clock", choices=["cpu", "wall"], default="cpu")
    parser.add_argument("--no-build", action="store_true", help="use build/bench as it is")
    args = parser.parse_args()
    names = args.only.split(",") if args.only else NAMES
    for name in names:
        if name not in NAMES:
            parser.error(f"no benchmark {name}")
    impls = args.impls.split(",") if args.impls else IMPLEMENTATIONS
    for impl in impls:
        if impl not in IMPLEMENTATIONS:
            parser.error(f"no implementation {impl!r}")
    if args.runs < 1:
        parser.error("--runs must be at least 1")

    ensure_lua()
    if not args.no_build:
        build()
    stdin = prepare(names)

    say("checking every output")
    failures = 0
    for name in names:
        for impl in impls:
            cmd, env = command(impl, name)
            problem = check_output.check(expected(name), cmd, stdin[name], timeout=120, env=env)
            if problem:
                say(f"  {name} under {impl}: {problem}")
                failures += 1
    if failures:
        say(f"{failures} wrong outputs: no timing")
        return 1

    load_before = os.getloadavg()
    times = {name: {impl: [] for impl in impls} for name in names}
    for r in range(args.runs):
        say(f"round {r + 1} of {args.runs}")
        order = impls[r % len(impls):] + impls[:r % len(impls)]
        for name in names:
            for impl in order:
                cmd, env = command(impl, name)
                times[name][impl].append(timed_run(cmd, env, stdin[name], args.clock))
    load_after = os.getloadavg()
    medians = {name: {impl: statistics.median(ts) for impl, ts in per.items()} for name, per in times.items()}
    with open(os.path.join(DATA, "times.json"), "w", encoding="utf-8") as f:
        json.dump({"clock": args.clock, "times": times}, f, indent=1)

    what = "CPU time (user + system)" if args.clock == "cpu" else "elapsed time"
    print(machine())
    print(f"Load average (1 min) {load_before[0]:.2f} before the timing, {load_after[0]:.2f} after.")
    print()
    print(f"Median {what} in seconds of {args.runs} runs; in parentheses the ratio to {impls[0]} "
          f"(above 1: {impls[0]} is faster).")
    print()
    print(times_table(names, impls, medians))
    ratios = ratios_table(names, impls, medians)
    if ratios:
        print()
        print("The ratios of the targets: the time of the first over the time of the second "
              "(default: tsumiki's default engine; native: TSUMIKI_ENGINE=native; "
              "opt: TSUMIKI_ENGINE=optimising; "
              "interp: TSUMIKI_ENGINE=interpreter).")
        print()
        print(ratios)
        print()
        print(targets(names, impls, medians))
    return 0


if __name__ == "__main__":
    sys.exit(main())
