#!/usr/bin/env python3
"""Stands in for a libFuzzer target whose memory is known, for rss_watch.py.

    fake_fuzzer.py SECONDS RATE BYTES [--status N] [--sparse]

Prints libFuzzer's status lines while it "runs" RATE inputs a second for
SECONDS, keeping BYTES of fresh, written memory per input, then the final
count of inputs and ends with status N (default 0).  --sparse prints a
numbered line only when the count passes a power of two, as libFuzzer's
pulse does once new coverage is rare.
"""
import argparse
import sys
import time

parser = argparse.ArgumentParser()
parser.add_argument("seconds", type=float)
parser.add_argument("rate", type=int)
parser.add_argument("bytes", type=int)
parser.add_argument("--status", type=int, default=0)
parser.add_argument("--sparse", action="store_true")
args = parser.parse_args()

kept = []
inputs = 0
next_pulse = 2
print("#2\tINITED cov: 1 ft: 1 corp: 1/1b exec/s: 0 rss: 1Mb", flush=True)
start = time.monotonic()
while time.monotonic() - start < args.seconds:
    time.sleep(0.05)
    due = int((time.monotonic() - start) * args.rate)
    if due > inputs:
        kept.append(b"x" * ((due - inputs) * args.bytes))
        inputs = due
    if not args.sparse:
        print(f"#{inputs}\tNEW    cov: 1 ft: 1 corp: 1/1b", flush=True)
    elif inputs >= next_pulse:
        while next_pulse <= inputs:
            next_pulse *= 2
        print(f"#{inputs}\tpulse  cov: 1 ft: 1 corp: 1/1b", flush=True)
print(f"stat::number_of_executed_units: {inputs}", flush=True)
sys.exit(args.status)
