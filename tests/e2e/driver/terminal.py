"""Runs a program with its standard error on a terminal (a pseudo-terminal
in raw mode, so that its bytes arrive as written) and its standard output
into a file, and ends with the program's exit status.

    terminal.py OUT ERR COMMAND...

OUT gets the bytes of standard output, ERR those written to the terminal.
Standard input is passed through."""
import errno
import os
import pty
import subprocess
import sys
import tty


def main():
    out_path, err_path, command = sys.argv[1], sys.argv[2], sys.argv[3:]
    master, slave = pty.openpty()
    tty.setraw(slave)
    with open(out_path, "wb") as out:
        child = subprocess.Popen(command, stdout=out, stderr=slave)
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
    with open(err_path, "wb") as err:
        err.write(seen)
    sys.exit(status if status >= 0 else 128 - status)


if __name__ == "__main__":
    main()
