#!/usr/bin/env python3
"""Reads a JSON report with Python's own parser and says what it holds.

    records.py REPORT.jsonl

Every line must be one JSON object with exactly the report's fields, in
their order and of their types; prints how many records there are and the
verdicts' counts, or the first line that is not a record.
"""
import json
import sys

FIELDS = [("submission", str), ("case", str), ("verdict", str), ("steps", int),
          ("output_bytes", int), ("message", str), ("line", int), ("column", int)]
VERDICTS = {"AC", "WA", "RE", "CE", "TLE", "OLE"}


def main():
    counts = {}
    with open(sys.argv[1], encoding="utf-8") as f:
        lines = f.read().split("\n")
    if lines[-1] != "":
        sys.exit("the report does not end with a line break")
    for number, text in enumerate(lines[:-1], 1):
        record = json.loads(text)
        if [k for k in record] != [name for name, _ in FIELDS]:
            sys.exit(f"line {number}: fields {list(record)}")
        for name, kind in FIELDS:
            value = record[name]
            if type(value) is not kind or (kind is int and value < 0):
                sys.exit(f"line {number}: {name} is {value!r}")
        if record["verdict"] not in VERDICTS:
            sys.exit(f"line {number}: verdict {record['verdict']!r}")
        if (record["message"] == "") != (record["verdict"] == "AC"):
            sys.exit(f"line {number}: a message only where the verdict is not AC")
        counts[record["verdict"]] = counts.get(record["verdict"], 0) + 1
    print(f"{len(lines) - 1} records: " +
          " ".join(f"{v} {counts.get(v, 0)}" for v in ("AC", "WA", "RE", "CE", "TLE", "OLE")))


if __name__ == "__main__":
    main()
