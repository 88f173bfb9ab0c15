#!/usr/bin/env python3
"""Writes the input of the read benchmark: a count, then that many numbers.

    gen_input.py OUTPUT [COUNT]

The numbers come from a fixed linear congruential generator, so the file is
the same on every machine: eight numbers to a line, between -99999 and
99999, some with fewer digits.  COUNT defaults to 1000000.
"""
import sys


def numbers(count):
    x = 12345
    for _ in range(count):
        x = (x * 1103515245 + 12345) % 2147483648
        digits = 1 + (x >> 8) % 5
        value = (x >> 11) % (10 ** digits)
        yield -value if (x >> 20) & 1 else value


def main():
    path = sys.argv[1]
    count = int(sys.argv[2]) if len(sys.argv) > 2 else 1000000
    lines = [str(count)]
    row = []
    for value in numbers(count):
        row.append(str(value))
        if len(row) == 8:
            lines.append(" ".join(row))
            row = []
    if row:
        lines.append(" ".join(row))
    with open(path, "w", newline="\n") as f:
        f.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
