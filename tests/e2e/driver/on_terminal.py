"""Runs a program as at a terminal: its standard output and standard error
on one pseudo-terminal (in raw mode, so that its bytes arrive as written),
its standard input from a file, and ends with the program's exit status.

    on_terminal.py OUT INPUT COMMAND...

OUT gets every byte written to the terminal.  The environment (LANG,
LC_ALL, TSUMIKI_ENCODING) is passed through as it is."""
import errno
import os
import pty
import subprocess
import sys
import tty


def main():
    out_path, input_path, command = sys.argv[1], sys.argv[2], sys.argv[3:]
    master, slave = pty.openpty()
    tty.setraw(slave)
    with open(input_path, "rb") as given:
        child = subprocess.Popen(command, stdin=given, stdout=slave, stderr=slave)
    os.close(slave)
    seen = b""
    while True:
        try:
            chunk = os.read(master, 65536)
        except OSError as e:  # the terminal's last user has closed it
            if e.errno != errno.EIO:
                raise
            break
        if not chunk:
            break
        seen += chunk
    os.close(master)
    status = child.wait()
    with open(out_path, "wb") as out:
        out.write(seen)
    sys.exit(status if status >= 0 else 128 - status)


if __name__ == "__main__":
    main()
