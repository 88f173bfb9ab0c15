#!/usr/bin/env python3
"""Throughput of tsumiki-judge: a class of submissions on a set of cases.

    bench/judge.py [--submissions 400] [--cases 10] [--runs 3] [--jobs N] [--no-build]
    bench/judge.py --heavy [--submissions 20] [--cases 3] [--runs 3] [--jobs N] [--no-build]

builds a release tsumiki and tsumiki-judge in build/bench, writes a class
into build/bench/judge-data (an exercise: read n numbers and write them
sorted; the submissions are variants of eight programs, right and wrong,
each a file of its own), and times, best of --runs:

1. tsumiki-judge on the class, all cores (or --jobs N): runs per second;
2. the same runs as a shell loop around tsumiki would make them, one
   process per run, as many at once as the judge: what the judge's
   isolation and reports cost, or save, next to that;
3. tsumiki-judge on a class of programs that do nothing but write(1), the
   same count: the judge's own cost per run, next to nothing to run.

It prints the machine, the figures as Markdown, and the verdicts' counts
(so that the class is seen to be a class: most right, some wrong).

With --heavy the class is one of programs that run about 10^7
instructions on each case (nested loops, and a recursion), and the judge
is timed twice: on its standard engine (the native tier, which counts the
step limit exactly) and with TSUMIKI_ENGINE=interpreter, as it ran every
program before; the two reports must be the same, steps and all.  The
rounds alternate between the engines and the medians are shown, with
the judge's own cost per run (on a class as large of programs that only
write(1)) and the ratio of what is left: the runs themselves.
"""
import argparse
import concurrent.futures
import json
import os
import random
import resource
import shutil
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.path.join(ROOT, "build", "bench")
DATA = os.path.join(BUILD, "judge-data")

# The exercise: n, then n numbers; write them in increasing order.  Each
# template has {v} for a name of its own (one variable more), so that
# every submission is a file of its own; the mistakes are a class's.
HEAD = "program sorting;\nvar n, i, j, t, {v}, a[1..100];\n"
READ = "begin\n  read(n);\n  i := 1;\n  while i <= n do begin read(a[i]); i := i + 1 end;\n"
WRITE = "  i := 1;\n  while i <= n do begin write(a[i]); i := i + 1 end\nend.\n"
TEMPLATES = {
    # Right: bubble sort, selection sort, insertion sort.
    "bubble": HEAD + READ + """  i := 1;
  while i < n do begin
    j := 1;
    while j <= n - i do begin
      if a[j] > a[j + 1] then begin t := a[j]; a[j] := a[j + 1]; a[j + 1] := t end;
      j := j + 1
    end;
    i := i + 1
  end;
""" + WRITE,
    "selection": HEAD + READ + """  i := 1;
  while i < n do begin
    j := i + 1;
    while j <= n do begin
      if a[j] < a[i] then begin t := a[j]; a[j] := a[i]; a[i] := t end;
      j := j + 1
    end;
    i := i + 1
  end;
""" + WRITE,
    "insertion": HEAD + READ + """  i := 2;
  while i <= n do begin
    t := a[i]; j := i - 1;
    while j >= 1 do
      if a[j] > t then begin a[j + 1] := a[j]; j := j - 1 end
      else begin a[j + 1] := t; j := 0 - 1 end;
    if j = 0 then a[1] := t;
    i := i + 1
  end;
""" + WRITE,
    # Wrong: one pass short, descending, not sorted at all.
    "short": HEAD + READ + """  i := 2;
  while i < n do begin
    j := 1;
    while j <= n - i do begin
      if a[j] > a[j + 1] then begin t := a[j]; a[j] := a[j + 1]; a[j + 1] := t end;
      j := j + 1
    end;
    i := i + 1
  end;
""" + WRITE,
    "descending": HEAD + READ + """  i := 1;
  while i < n do begin
    j := 1;
    while j <= n - i do begin
      if a[j] < a[j + 1] then begin t := a[j]; a[j] := a[j + 1]; a[j + 1] := t end;
      j := j + 1
    end;
    i := i + 1
  end;
""" + WRITE,
    "unsorted": HEAD + READ + WRITE,
    # A compile error, and a run-time error (a division by what may be 0).
    "typo": HEAD + READ + "  i := 1\n" + WRITE,
    "divides": HEAD + READ + "  t := 100 div (a[1] - a[2]);\n" + WRITE,
}
# The heavy class: n, then about 10^7 instructions for n = 800 (the
# loops, the recursion fib(27)), more or less by the template: the first
# is right, the others wrong.
HEAVY_HEAD = "program heavy;\nvar n, i, j, s, {v};\n"
# The double loop of the first two, its inner loop starting at {start}.
HEAVY_LOOPS = """begin
  read(n);
  s := 0;
  i := 0;
  while i < n do begin
    j := {start};
    while j < n do begin
      s := s + (i * j) div 7 - s div 3;
      j := j + 1
    end;
    i := i + 1
  end;
  write(s)
end.
"""
HEAVY_TEMPLATES = {
    "loops": HEAVY_HEAD + HEAVY_LOOPS.replace("{start}", "0"),
    "fewer": HEAVY_HEAD + HEAVY_LOOPS.replace("{start}", "i"),
    "recursion": "program heavy;\nvar n, {v};\n" + """function fib(k);
begin
  if k < 2 then fib := k else fib := fib(k - 1) + fib(k - 2)
end;
begin
  read(n);
  write(fib(n div 30 + 1))
end.
""",
}

# How often each template is handed in, of 100.
SHARES = {"bubble": 40, "selection": 20, "insertion": 15, "short": 8, "descending": 5,
          "unsorted": 5, "typo": 4, "divides": 3}


def say(text):
    print(text, file=sys.stderr, flush=True)


def build():
    say("building a release tsumiki and tsumiki-judge in build/bench")
    subprocess.run(["cmake", "-S", ROOT, "-B", BUILD, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Release",
                    "-DTSUMIKI_TESTS=OFF"], check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", BUILD, "-j2", "--target", "tsumiki", "tsumiki-judge"],
                   check=True, stdout=subprocess.DEVNULL)


def write_case(folder, c, stdin, tsumiki, model):
    """Case c + 1: its input, and the output the model program gives."""
    base = os.path.join(folder, "cases", f"{c + 1:02d}")
    with open(base + ".in", "w") as f:
        f.write(stdin)
    env = dict(os.environ, TSUMIKI_ENCODING="utf-8")
    out = subprocess.run([tsumiki, model], input=stdin.encode(), capture_output=True, env=env)
    with open(base + ".out", "wb") as f:
        f.write(out.stdout)


def write_class(folder, submissions, cases, tsumiki, trivial=False):
    """The cases (outputs made by the first right template) and the class."""
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(os.path.join(folder, "cases"))
    os.makedirs(os.path.join(folder, "class"))
    r = random.Random(2026)
    model = os.path.join(folder, "model.tsu")
    with open(model, "w") as f:
        f.write("program p;\nbegin write(1) end.\n" if trivial
                else TEMPLATES["bubble"].format(v="model"))
    for c in range(cases):
        n = 5 + 55 * c // max(cases - 1, 1)
        numbers = [r.randint(-1000, 1000) for _ in range(n)]
        stdin = f"{n}\n" + " ".join(map(str, numbers)) + "\n"
        write_case(folder, c, stdin, tsumiki, model)
    names = [name for name, share in SHARES.items() for _ in range(share)]
    for s in range(submissions):
        template = names[s * len(names) // submissions]
        source = ("program p;\nvar {v};\nbegin write(1) end.\n" if trivial
                  else TEMPLATES[template]).format(v=f"unused{s}")
        with open(os.path.join(folder, "class", f"s{s:04d}-{template}.tsu"), "w") as f:
            f.write(source)


def write_heavy_class(folder, submissions, cases, tsumiki):
    """The heavy class: its cases' outputs made by its first template."""
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(os.path.join(folder, "cases"))
    os.makedirs(os.path.join(folder, "class"))
    model = os.path.join(folder, "model.tsu")
    with open(model, "w") as f:
        f.write(HEAVY_TEMPLATES["loops"].format(v="model"))
    for c in range(cases):
        stdin = f"{780 + 20 * c}\n"
        write_case(folder, c, stdin, tsumiki, model)
    names = list(HEAVY_TEMPLATES)
    for s in range(submissions):
        template = names[s % len(names)]
        with open(os.path.join(folder, "class", f"s{s:04d}-{template}.tsu"), "w") as f:
            f.write(HEAVY_TEMPLATES[template].format(v=f"unused{s}"))


def timed(fn):
    """Wall time and CPU time (of this process's children) of fn()."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.perf_counter()
    result = fn()
    wall = time.perf_counter() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    return wall, cpu, result


def judge(judge_path, folder, jobs, engine=None):
    report = os.path.join(folder, "report.jsonl")
    command = [judge_path, "--cases", os.path.join(folder, "cases"), "--json", report,
               os.path.join(folder, "class")]
    if jobs:
        command[1:1] = ["--jobs", str(jobs)]
    env = dict(os.environ, TSUMIKI_ENCODING="utf-8")
    env.pop("TSUMIKI_ENGINE", None)
    if engine:
        env["TSUMIKI_ENGINE"] = engine
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL, env=env)
    with open(report, encoding="utf-8") as f:
        return [json.loads(line) for line in f]


def shell_loop(tsumiki, folder, jobs):
    """What a loop around tsumiki does: a process per run, its output compared."""
    cases = sorted(n[:-4] for n in os.listdir(os.path.join(folder, "cases")) if n.endswith(".out"))
    sources = sorted(os.listdir(os.path.join(folder, "class")))
    env = dict(os.environ, TSUMIKI_ENCODING="utf-8")

    def run(pair):
        source, case = pair
        base = os.path.join(folder, "cases", case)
        with open(base + ".in", "rb") as stdin, open(base + ".out", "rb") as expected:
            out = subprocess.run([tsumiki, os.path.join(folder, "class", source)], stdin=stdin,
                                 capture_output=True, env=env, timeout=60)
            return out.stdout == expected.read()

    pairs = [(s, c) for s in sources for c in cases]
    with concurrent.futures.ThreadPoolExecutor(max_workers=jobs) as pool:
        return sum(pool.map(run, pairs))


def median(results):
    """The median wall time and the median CPU time of (wall, cpu, result) rounds."""
    walls = sorted(r[0] for r in results)
    cpus = sorted(r[1] for r in results)
    return walls[len(walls) // 2], cpus[len(cpus) // 2], results[0][2]


def best(runs, fn):
    results = [timed(fn) for _ in range(runs)]
    return min(results, key=lambda r: r[0])


def heavy(args, tsumiki, judge_path):
    """The heavy class on the native tier and on the interpreter."""
    jobs = args.jobs or len(os.sched_getaffinity(0))
    runs = args.submissions * args.cases
    folder = os.path.join(DATA, "heavy")
    write_heavy_class(folder, args.submissions, args.cases, tsumiki)
    # Rounds of the two engines in turn, so that a change in the machine's
    # load falls on both; the medians of each.
    rounds = {"native": [], "interpreter": []}
    for k in range(args.runs):
        for engine in rounds:
            say(f"round {k + 1} of {args.runs}: the heavy class, {engine}")
            rounds[engine].append(timed(lambda: judge(judge_path, folder, args.jobs,
                                                      engine if engine == "interpreter" else None)))
    wall, cpu, native = median(rounds["native"])
    i_wall, i_cpu, interpreted = median(rounds["interpreter"])
    trivial = os.path.join(DATA, "heavy-trivial")
    write_class(trivial, args.submissions, args.cases, tsumiki, trivial=True)
    say(f"timing the judge on programs that only write(1), {args.runs} rounds")
    _, t_cpu, _ = median([timed(lambda: judge(judge_path, trivial, args.jobs))
                          for _ in range(args.runs)])
    if native != interpreted:
        sys.exit("the reports of the two engines differ")
    steps = sum(r["steps"] for r in native)
    counts = {}
    for r in native:
        counts[r["verdict"]] = counts.get(r["verdict"], 0) + 1
    load = os.getloadavg()
    print(f"{os.cpu_count()} processors, judge --jobs {jobs}; load average {load[0]:.2f}; "
          f"medians of {args.runs} rounds; {args.submissions} submissions x {args.cases} cases = "
          f"{runs} runs ({steps:,} instructions in all, {steps // runs:,} a run).\n")
    print("| engine | wall | runs/s | CPU | CPU per run | runs per CPU second |")
    print("|---|---|---|---|---|---|")
    for name, w, c in (("interpreter", i_wall, i_cpu), ("native tier", wall, cpu)):
        print(f"| {name} | {w:.2f} s | {runs / w:,.1f} | {c:.2f} s | {c / runs * 1000:.1f} ms "
              f"| {runs / c:,.1f} |")
    own = t_cpu / runs
    print(f"\nnative tier / interpreter: {i_wall / wall:.1f}x by wall time, "
          f"{i_cpu / cpu:.1f}x by CPU time; less the judge's own {own * 1000:.1f} ms of CPU "
          f"a run (programs that only write(1)), the runs themselves "
          f"{(i_cpu / runs - own) * 1000:.1f} ms and {(cpu / runs - own) * 1000:.1f} ms: "
          f"{(i_cpu / runs - own) / max(cpu / runs - own, 1e-9):.1f}x.  "
          f"The reports are the same; verdicts: " +
          ", ".join(f"{v} {n}" for v, n in sorted(counts.items())))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--heavy", action="store_true",
                        help="a class of programs of about 10^7 instructions a run, on the "
                        "native tier and on the interpreter")
    parser.add_argument("--submissions", type=int, default=None)
    parser.add_argument("--cases", type=int, default=None)
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--jobs", type=int, default=0, help="the judge's --jobs (default: all cores)")
    parser.add_argument("--no-build", action="store_true", help="use build/bench as it is")
    args = parser.parse_args()
    if not args.no_build:
        build()
    tsumiki = os.path.join(BUILD, "tsumiki")
    judge_path = os.path.join(BUILD, "tsumiki-judge")
    if args.submissions is None:
        args.submissions = 20 if args.heavy else 400
    if args.cases is None:
        args.cases = 3 if args.heavy else 10
    if args.heavy:
        heavy(args, tsumiki, judge_path)
        return
    jobs = args.jobs or len(os.sched_getaffinity(0))
    runs = args.submissions * args.cases

    real = os.path.join(DATA, "class")
    trivial = os.path.join(DATA, "trivial")
    write_class(real, args.submissions, args.cases, tsumiki)
    write_class(trivial, args.submissions, args.cases, tsumiki, trivial=True)

    say(f"timing the judge, {args.runs} rounds")
    wall, cpu, records = best(args.runs, lambda: judge(judge_path, real, args.jobs))
    say(f"timing a shell loop around tsumiki, {args.runs} rounds")
    loop_wall, loop_cpu, accepted = best(args.runs, lambda: shell_loop(tsumiki, real, jobs))
    say(f"timing the judge on programs that only write(1), {args.runs} rounds")
    t_wall, t_cpu, _ = best(args.runs, lambda: judge(judge_path, trivial, args.jobs))

    counts = {}
    for r in records:
        counts[r["verdict"]] = counts.get(r["verdict"], 0) + 1
    steps = sum(r["steps"] for r in records)
    load = os.getloadavg()
    print(f"{os.cpu_count()} processors, judge --jobs {jobs}; load average {load[0]:.2f}; "
          f"best of {args.runs} rounds; {args.submissions} submissions x {args.cases} cases = "
          f"{runs} runs ({steps:,} instructions in all).\n")
    print("| what | wall | runs/s | CPU | CPU per run |")
    print("|---|---|---|---|---|")
    for name, w, c in (("tsumiki-judge", wall, cpu),
                       ("a shell loop around tsumiki", loop_wall, loop_cpu),
                       ("tsumiki-judge, programs that only write(1)", t_wall, t_cpu)):
        print(f"| {name} | {w:.2f} s | {runs / w:,.0f} | {c:.2f} s | {c / runs * 1000:.2f} ms |")
    print("\nverdicts: " + ", ".join(f"{v} {counts.get(v, 0)}" for v in
                                      ("AC", "WA", "RE", "CE", "TLE", "OLE")) +
          f" (the shell loop found {accepted} outputs as expected)")


if __name__ == "__main__":
    main()
