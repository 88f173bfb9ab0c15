"""Drives `tsumiki-inspect debug` as a person at a keyboard would, Ctrl-C
included: sends a command, and when the program runs on, sends SIGINT until
the debugger says it has paused, then the next command.

    interrupt.py INSPECT SOURCE LINES COMMAND...

A command "^C" stands for the interrupt.  Before the first SIGINT it waits
until LINES lines have come since the command before it: the program's own
output, which must come as it runs, not when it stops.  Prints what the debugger wrote, and ends
with its exit status; 2 when it does not pause within a minute.
"""
import os
import select
import signal
import subprocess
import sys
import time

PAUSED = "中断しました".encode()


def main():
    inspect, source, lines = sys.argv[1], sys.argv[2], int(sys.argv[3])
    commands = sys.argv[4:]
    debugger = subprocess.Popen([inspect, "debug", "--utf8", source], stdin=subprocess.PIPE,
                                stdout=subprocess.PIPE)
    out = b""
    start = 0

    def read_for(seconds):
        nonlocal out
        ready, _, _ = select.select([debugger.stdout], [], [], seconds)
        if ready:
            chunk = os.read(debugger.stdout.fileno(), 65536)
            out += chunk
            return len(chunk) > 0
        return True

    for command in commands:
        if command != "^C":
            start = len(out)
            debugger.stdin.write(command.encode() + b"\n")
            debugger.stdin.flush()
            continue
        # The program's output must come while it runs, before any pause.
        deadline = time.monotonic() + 60
        while out.count(b"\n", start) < lines and time.monotonic() < deadline:
            read_for(0.1)
        pauses = out.count(PAUSED)
        while out.count(PAUSED) == pauses and time.monotonic() < deadline:
            debugger.send_signal(signal.SIGINT)
            read_for(0.1)
        if out.count(PAUSED) == pauses:
            debugger.kill()
            sys.stdout.buffer.write(out + b"\n[no pause within a minute]\n")
            return 2
    debugger.stdin.close()
    while read_for(60) and debugger.poll() is None:
        pass
    out += debugger.stdout.read()
    status = debugger.wait(60)
    sys.stdout.buffer.write(out)
    return status


sys.exit(main())
