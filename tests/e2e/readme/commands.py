#!/usr/bin/env python3
"""The README's commands for the sample programs print exactly their NAME.out.

    commands.py TSUMIKI SOURCE_DIR

Every indented command of README.md that runs build/release/tsumiki on a
sample (examples/NAME.tsu), alone on its line or last after "&&", is run as
written, through the shell, in
SOURCE_DIR, with TSUMIKI in place of build/release/tsumiki.  Its standard
output must be examples/NAME.out byte for byte, and its status 0.  Then
every sample is run the same way as the command for stats.tsu (its prompts
and all), with its NAME.in if it has one, so that each NAME.out is what
that command prints for it.  The README must give at least one command
that reads input.
"""
import os
import re
import subprocess
import sys

# An indented line, or its last part after "&&": variables, the program,
# the sample, perhaps its input.
COMMAND = re.compile(r"^    (?:.*&& )?((?:\w+=\S* )*build/release/tsumiki examples/(\w+)\.tsu[^&\n]*)$",
                     re.M)


def run(command, tsumiki, source_dir):
    command = command.replace("build/release/tsumiki", tsumiki)
    env = {k: v for k, v in os.environ.items() if k != "TSUMIKI_ENCODING"}
    return subprocess.run(["sh", "-c", command], cwd=source_dir, env=env, timeout=60,
                          stdin=subprocess.DEVNULL, stdout=subprocess.PIPE)


def expected(source_dir, name):
    with open(os.path.join(source_dir, "examples", name + ".out"), "rb") as f:
        return f.read()


def main():
    tsumiki, source_dir = sys.argv[1:3]
    with open(os.path.join(source_dir, "README.md"), encoding="utf-8") as f:
        readme = f.read()
    failures = []
    commands = COMMAND.findall(readme)
    with_input = [c for c, _ in commands if "<" in c]
    if not with_input:
        failures.append("README.md gives no command that runs a sample with its input")
    for command, name in commands:
        done = run(command, tsumiki, source_dir)
        if done.returncode != 0 or done.stdout != expected(source_dir, name):
            failures.append(f"{command}\nprinted {done.stdout!r}, status {done.returncode}")
    if with_input:
        pattern = with_input[0]
        for entry in sorted(os.listdir(os.path.join(source_dir, "examples"))):
            if not entry.endswith(".tsu"):
                continue
            name = entry[:-4]
            command = re.sub(r"examples/\w+\.tsu", f"examples/{name}.tsu", pattern)
            if os.path.exists(os.path.join(source_dir, "examples", name + ".in")):
                command = re.sub(r"examples/\w+\.in", f"examples/{name}.in", command)
            else:
                command = re.sub(r"\s*<\s*examples/\w+\.in", "", command)
            done = run(command, tsumiki, source_dir)
            if done.returncode != 0 or done.stdout != expected(source_dir, name):
                failures.append(f"{command}\nprinted {done.stdout!r}, status {done.returncode}")
    print(f"{len(commands)} commands of the README, every sample run as the one with input")
    for failure in failures:
        print(failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
