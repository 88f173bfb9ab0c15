"""Runs a program with its standard output closed, or (--pipe) writing into
a pipe whose reading end is closed, and prints how it ended: "status N" or
"signal N".  Standard error is passed through."""
import os
import subprocess
import sys


def main():
    args = sys.argv[1:]
    pipe = args[0] == "--pipe"
    if pipe:
        args = args[1:]
        read_end, write_end = os.pipe()
        os.close(read_end)
        done = subprocess.run(args, stdout=write_end, stdin=subprocess.DEVNULL)
        os.close(write_end)
    else:
        done = subprocess.run(args, stdout=subprocess.DEVNULL, stdin=subprocess.DEVNULL,
                              preexec_fn=lambda: os.close(1))
    code = done.returncode
    print("signal %d" % -code if code < 0 else "status %d" % code)


if __name__ == "__main__":
    main()
