#!/usr/bin/env python3
"""Runs one benchmark program and checks what it printed.

    check_output.py EXPECTED [--stdin FILE] COMMAND...

COMMAND runs with standard input from FILE (empty without --stdin).  Its
output is decoded from code page 932 and every input prompt is removed, so
that only the numbers the program wrote remain; the compiled program, the
baseline, the Lua versions and the C twins are all checked this way.
EXPECTED is either a text file (NAME.out) that the numbers must equal
exactly, or a digest file (NAME.sha256: the SHA-256 of the numbers in UTF-8,
then their line count) for an output too large to keep.  The exit status
must be 0.
"""
import hashlib
import subprocess
import sys

PROMPT = "数を入力して下さい>"


def numbers_of(raw):
    """The output as text without prompts, or raises UnicodeDecodeError."""
    return raw.decode("cp932").replace(PROMPT, "")


def compare(expected_path, text):
    """None when the text is what EXPECTED says, else a description."""
    data = text.encode("utf-8")
    if expected_path.endswith(".sha256"):
        with open(expected_path, encoding="utf-8") as f:
            digest, lines = f.read().split()
        got_digest, got_lines = hashlib.sha256(data).hexdigest(), data.count(b"\n")
        if (got_digest, got_lines) != (digest, int(lines)):
            return f"output digest {got_digest} over {got_lines} lines, expected {digest} over {lines}"
        return None
    with open(expected_path, "rb") as f:
        expected = f.read()
    if data == expected:
        return None
    want, got = expected.decode("utf-8").splitlines(), text.splitlines()
    for i, (w, g) in enumerate(zip(want, got)):
        if w != g:
            return f"line {i + 1}: {g!r}, expected {w!r}"
    return f"{len(got)} lines, expected {len(want)}"


def check(expected_path, command, stdin_path=None, timeout=300, env=None):
    """Runs the command (in env, a dict, when given); None when it succeeded
    with the expected output."""
    stdin = open(stdin_path, "rb") if stdin_path else subprocess.DEVNULL
    try:
        run = subprocess.run(command, stdin=stdin, stdout=subprocess.PIPE, timeout=timeout, env=env)
    except subprocess.TimeoutExpired:
        return "timed out"
    finally:
        if stdin_path:
            stdin.close()
    if run.returncode != 0:
        return f"exit status {run.returncode}"
    try:
        text = numbers_of(run.stdout)
    except UnicodeDecodeError as e:
        return f"output is not code page 932 text: {e}"
    return compare(expected_path, text)


def main():
    args = sys.argv[1:]
    if len(args) < 2:
        print(__doc__)
        return 2
    expected, stdin_path, command = args[0], None, args[1:]
    if command[0] == "--stdin":
        stdin_path, command = command[1], command[2:]
    problem = check(expected, command, stdin_path)
    if problem:
        print(f"{' '.join(command)}: {problem}")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
