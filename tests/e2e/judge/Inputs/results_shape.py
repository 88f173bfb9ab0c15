"""Checks a results.json against the documented shape of autograder
results that course platforms read, and prints a summary of it.

The shape: an object with, all optional, "score" (a number),
"execution_time" (a number), "output" (a string), "output_format",
"test_output_format", "test_name_format" (format names), "visibility" and
"stdout_visibility" (visibilities), "extra_data" (an object), "tests" and
"leaderboard" (arrays).  Each test an object with, all optional, "score"
and "max_score" (numbers), "status" ("passed" or "failed"), "name",
"number", "output" (strings), "name_format", "output_format", "tags" (an
array of strings), "visibility" and "extra_data".  Nothing else.  A score
must be given on the whole or on every test.

usage: results_shape.py FILE
"""
import json
import sys

VISIBILITIES = {"hidden", "after_due_date", "after_published", "visible"}
FORMATS = {"text", "html", "simple_format", "md", "ansi"}


def number(v):
    return isinstance(v, (int, float)) and not isinstance(v, bool)


TOP = {
    "score": number,
    "execution_time": number,
    "output": lambda v: isinstance(v, str),
    "output_format": lambda v: v in FORMATS,
    "test_output_format": lambda v: v in FORMATS,
    "test_name_format": lambda v: v in FORMATS,
    "visibility": lambda v: v in VISIBILITIES,
    "stdout_visibility": lambda v: v in VISIBILITIES,
    "extra_data": lambda v: isinstance(v, dict),
    "tests": lambda v: isinstance(v, list),
    "leaderboard": lambda v: isinstance(v, list),
}
TEST = {
    "score": number,
    "max_score": number,
    "status": lambda v: v in {"passed", "failed"},
    "name": lambda v: isinstance(v, str),
    "name_format": lambda v: v in FORMATS,
    "number": lambda v: isinstance(v, str),
    "output": lambda v: isinstance(v, str),
    "output_format": lambda v: v in FORMATS,
    "tags": lambda v: isinstance(v, list) and all(isinstance(t, str) for t in v),
    "visibility": lambda v: v in VISIBILITIES,
    "extra_data": lambda v: isinstance(v, dict),
}


def check(obj, fields, where):
    if not isinstance(obj, dict):
        sys.exit(f"{where}: not an object")
    for key, value in obj.items():
        if key not in fields:
            sys.exit(f"{where}: {key!r} is not in the documented shape")
        if not fields[key](value):
            sys.exit(f"{where}: {key!r} has a value of the wrong kind: {value!r}")


with open(sys.argv[1], encoding="utf-8") as f:
    results = json.load(f)
check(results, TOP, "results")
tests = results.get("tests", [])
for i, test in enumerate(tests):
    check(test, TEST, f"test {i}")
    if "score" in test and "max_score" in test and not 0 <= test["score"] <= test["max_score"]:
        sys.exit(f"test {i}: score outside 0..max_score")
if "score" not in results and not all("score" in t for t in tests):
    sys.exit("no score: neither on the whole nor on every test")
if "score" in results and all("score" in t for t in tests):
    if results["score"] != sum(t["score"] for t in tests):
        sys.exit("the score is not the sum of the tests' scores")
print(f"score {results.get('score')} of {sum(t.get('max_score', 0) for t in tests)}")
for t in tests:
    print(f"{t.get('name')}: {t.get('status')} {t.get('score')}/{t.get('max_score')} {t.get('visibility')}")
