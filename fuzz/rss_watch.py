#!/usr/bin/env python3
"""Runs a libFuzzer session and watches its resident memory.

    rss_watch.py [--name NAME] [--max-growth BYTES] [--min-growth-mb MB]
                 [--samples FILE] -- FUZZER ARGS...

The fuzzer's output passes through unchanged.  Every half second the
fuzzer's resident memory (VmRSS) is read from /proc; at the end one line
sums the session up:

    NAME: N inputs in S s; resident memory A MB after the seeds, B MB at
    the end (peak P MB); second half: G bytes per input

The second half of the session (by time, counted from the end of the seed
corpus) shows whether memory keeps growing: by then the sanitizers'
quarantine and the allocator's caches are full and the corpus grows
slowly, so a sound target adds less than 150 bytes per input after half a
minute and a few tens after a few minutes, while a harness that leaves
memory behind with every input keeps adding hundreds.
G is the least-squares slope of the resident memory over the number of
inputs run, in that half; the inputs at each sample are interpolated
between the fuzzer's numbered status lines.  The session fails (status 1)
when G exceeds --max-growth (default 256 bytes per input; 0: never, the
line only reports) and the memory grew that way by more than
--min-growth-mb (default 1) over the half: less is within the noise.  A fault the fuzzer finds keeps its own status.
--samples writes the samples (seconds, inputs so far, resident KB) for a
plot.
"""
import argparse
import bisect
import re
import subprocess
import sys
import threading
import time

STATUS = re.compile(rb"^#(\d+)\s+(\w+)")
EXECUTED = re.compile(rb"^stat::number_of_executed_units:\s*(\d+)")


def resident_kb(pid):
    try:
        with open(f"/proc/{pid}/status", "rb") as f:
            for line in f:
                if line.startswith(b"VmRSS:"):
                    return int(line.split()[1])
    except OSError:
        pass
    return None


def slope(points):
    """Least-squares slope of y over x."""
    n = len(points)
    mx = sum(x for x, _ in points) / n
    my = sum(y for _, y in points) / n
    sxx = sum((x - mx) ** 2 for x, _ in points)
    if sxx == 0:
        return 0.0
    return sum((x - mx) * (y - my) for x, y in points) / sxx


def interpolate(known, t):
    """The inputs run by time t, between the (time, inputs) points known."""
    times = [k[0] for k in known]
    i = bisect.bisect_right(times, t)
    if i == 0:
        return float(known[0][1])
    if i == len(known):
        return float(known[-1][1])
    (t0, n0), (t1, n1) = known[i - 1], known[i]
    return n0 + (n1 - n0) * (t - t0) / (t1 - t0) if t1 > t0 else float(n1)


def judge(samples, known, inited, end):
    """What the session's memory did: (first KB after the seeds, bytes per
    input over the second half, MB grown that way over it), or None when
    the session was too short to tell."""
    after_seeds = [s for s in samples if s[0] >= inited]
    if len(after_seeds) < 4:
        return None
    middle = inited + (end - inited) / 2
    second = [s for s in after_seeds if s[0] >= middle]
    if len(second) < 2:
        second = after_seeds[len(after_seeds) // 2:]
    points = [(interpolate(known, t), kb * 1024.0) for t, _, kb in second]
    per_input = slope(points)
    grown_mb = per_input * (points[-1][0] - points[0][0]) / (1 << 20)
    return after_seeds[0][2], per_input, grown_mb


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--name", default=None)
    parser.add_argument("--max-growth", type=float, default=256.0)
    parser.add_argument("--min-growth-mb", type=float, default=1.0)
    parser.add_argument("--samples", default=None)
    parser.add_argument("command", nargs=argparse.REMAINDER)
    args = parser.parse_args()
    command = args.command[1:] if args.command[:1] == ["--"] else args.command
    if not command:
        parser.error("no fuzzer to run")
    name = args.name or command[0].rsplit("/", 1)[-1]

    fuzzer = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    start = time.monotonic()
    # The (time, inputs) points the fuzzer's lines tell, when the seeds were
    # done, and when the fuzzing was (its final count of inputs: what the
    # process frees as it ends says nothing).
    state = {"known": [(0.0, 0)], "inited": None, "finished": None}
    lock = threading.Lock()

    def read_output():
        for line in fuzzer.stdout:
            sys.stdout.buffer.write(line)
            sys.stdout.buffer.flush()
            now = time.monotonic() - start
            with lock:
                m = STATUS.match(line)
                if m:
                    state["known"].append((now, int(m.group(1))))
                    if m.group(2) == b"INITED" and state["inited"] is None:
                        state["inited"] = now
                m = EXECUTED.match(line)
                if m and state["finished"] is None:
                    state["known"].append((now, int(m.group(1))))
                    state["finished"] = now

    reader = threading.Thread(target=read_output)
    reader.start()
    samples = []  # (seconds, inputs so far, KB)
    while fuzzer.poll() is None:
        kb = resident_kb(fuzzer.pid)
        if kb is not None:
            with lock:
                samples.append((time.monotonic() - start, state["known"][-1][1], kb))
        time.sleep(0.5)
    reader.join()
    status = fuzzer.returncode
    end = state["finished"] or time.monotonic() - start
    samples = [s for s in samples if s[0] <= end]

    if args.samples:
        with open(args.samples, "w") as f:
            for s in samples:
                f.write("%.1f %d %d\n" % s)

    known = state["known"]
    inputs = known[-1][1]
    verdict = judge(samples, known, state["inited"] or 0.0, end)
    if verdict is None:
        print(f"{name}: {inputs} inputs in {end:.0f} s; too short to watch its memory")
        return status
    first_kb, per_input, grown_mb = verdict
    peak = max(kb for _, _, kb in samples)
    print(f"{name}: {inputs} inputs in {end:.0f} s; resident memory {first_kb / 1024:.0f} MB "
          f"after the seeds, {samples[-1][2] / 1024:.0f} MB at the end (peak {peak / 1024:.0f} MB); "
          f"second half: {per_input:.0f} bytes per input")
    if status != 0:
        return status
    if args.max_growth > 0 and per_input > args.max_growth and grown_mb > args.min_growth_mb:
        print(f"{name}: resident memory kept growing, by {grown_mb:.1f} MB over the second half "
              f"({per_input:.0f} bytes per input, more than {args.max_growth:.0f}): "
              f"something holds memory per input")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
