#!/usr/bin/env python3
"""The worst case of the optimising tier's guards: one that fails on the
last turn of a long hot loop (--kind: a division by zero there, an index
past its array, a read of a procedure's local that has no value yet, whose
cell holds what the last call left).  Times the default
(tiered) engine against the native tier alone, CPU time (user + system) of
each run, medians of several rounds, the two engines in turn; checks that
both print the same bytes and end with the same status.

    bench/late_guard.py [--tsumiki build/ci/tsumiki] [--runs 7] [--turns N]
                        [--kind division|bounds|unset] [--against OTHER_TSUMIKI]

--against times a second tsumiki's default engine on the same program (a
build of another commit), for a before and after.  The program ends with
an error on purpose, so it is not one of programs/ (each of those has a
Lua and a C twin that print its expected output)."""

import argparse
import os
import resource
import statistics
import subprocess
import sys
import tempfile

PROGRAMS = {
    "division": """program late;
var i, s, n;
begin
  n := {turns};
  i := 0; s := 0;
  while i < n do
  begin
    s := s + i - s div 7;
    i := i + 1;
    if i = n then s := s + 1 div (n - i)
  end;
  write(s)
end.
""",
    "bounds": """program late;
var i, s, n, j, a[0..9], after;
begin
  n := {turns};
  i := 0; s := 0; after := 5;
  while i < n do
  begin
    s := s + i - s div 7;
    j := i - i div 10 * 10;
    i := i + 1;
    if i = n then j := 10;
    a[j] := s
  end;
  write(s); write(after)
end.
""",
    "unset": """program late;
var i, s, n;
procedure r;
var u;
begin
  if i = n - 1 then s := s + u;
  u := i
end;
begin
  n := {turns};
  i := 0; s := 0;
  while i < n do
  begin
    s := s + i - s div 7;
    r;
    i := i + 1
  end;
  write(s)
end.
""",
}
WHAT = {
    "division": "a division by zero",
    "bounds": "an index past its array",
    "unset": "a read of a local with no value yet",
}


def run(tsumiki, source, engine):
    env = dict(os.environ)
    env.pop("TSUMIKI_ENGINE", None)
    env["TSUMIKI_ENCODING"] = "utf-8"
    if engine is not None:
        env["TSUMIKI_ENGINE"] = engine
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    done = subprocess.run([tsumiki, source], env=env, capture_output=True)
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    seconds = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    return seconds, (done.returncode, done.stdout, done.stderr)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--tsumiki", default="build/ci/tsumiki")
    ap.add_argument("--against")
    ap.add_argument("--runs", type=int, default=7)
    ap.add_argument("--turns", type=int, default=300_000_000)
    ap.add_argument("--kind", choices=sorted(PROGRAMS), default="division")
    args = ap.parse_args()
    impls = [("native", args.tsumiki, "native"), ("default", args.tsumiki, None)]
    if args.against:
        impls.append(("default (against)", args.against, None))
    with tempfile.TemporaryDirectory() as tmp:
        source = os.path.join(tmp, "late.tsu")
        with open(source, "w") as f:
            f.write(PROGRAMS[args.kind].replace("{turns}", str(args.turns)))
        times = {name: [] for name, _, _ in impls}
        seen = {}
        for r in range(args.runs):
            order = impls if r % 2 == 0 else list(reversed(impls))
            for name, binary, engine in order:
                seconds, result = run(binary, source, engine)
                times[name].append(seconds)
                seen.setdefault(name, result)
                if result != seen[impls[0][0]]:
                    sys.exit(f"{name} ended otherwise than native: {result!r}")
        base = statistics.median(times["native"])
        print(f"{args.turns} turns, {WHAT[args.kind]} on the last; {args.runs} runs, "
              f"CPU time medians")
        for name, _, _ in impls:
            m = statistics.median(times[name])
            print(f"  {name:18} {m:7.3f} s  {m / base:5.2f}x native")


if __name__ == "__main__":
    main()
