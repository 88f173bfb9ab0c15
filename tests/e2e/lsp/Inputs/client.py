"""Drives tsumiki-lsp with scripted messages and prints its answers.

    client.py SERVER SCRIPT

Each line of SCRIPT is one message to send:
  {...}            a JSON message, framed; a value {"file": "NAME"} under
                   "text" is replaced by that file's text (read as UTF-8,
                   undecodable bytes as the code points U+0080..U+00FF)
  RAW text         the text as a message body, framed
  BYTES text       the text sent as it is, unframed (Python escapes allowed)
  FILL n           a frame of n bytes "x"
  DEEP n text      the text, framed, with its "@" replaced by n "[" and n "]"
  # ...            ignored
The server's messages are printed one per line, as they came (after checking
each frame's Content-Length), then "exit N" with its exit status.
"""
import json
import subprocess
import sys


def file_text(name):
    data = open(name, "rb").read()
    try:
        return data.decode("utf-8")
    except UnicodeDecodeError:
        return data.decode("latin-1")


def expand(value):
    if isinstance(value, dict):
        if set(value) == {"file"}:
            return file_text(value["file"])
        return {k: expand(v) for k, v in value.items()}
    if isinstance(value, list):
        return [expand(v) for v in value]
    return value


def frame(body):
    return b"Content-Length: %d\r\n\r\n" % len(body) + body


def main():
    server, script = sys.argv[1], sys.argv[2]
    out = bytearray()
    for line in open(script, encoding="utf-8"):
        line = line.rstrip("\n")
        if not line or line.startswith("#"):
            continue
        if line.startswith("RAW "):
            out += frame(line[4:].encode("utf-8"))
        elif line.startswith("DEEP "):
            n, _, text = line[5:].partition(" ")
            out += frame(text.replace("@", "[" * int(n) + "]" * int(n)).encode("utf-8"))
        elif line.startswith("FILL "):
            out += frame(b"x" * int(line[5:]))
        elif line.startswith("BYTES "):
            out += line[6:].encode("utf-8").decode("unicode_escape").encode("latin-1")
        else:
            message = expand(json.loads(line))
            out += frame(json.dumps(message, ensure_ascii=False).encode("utf-8"))
    run = subprocess.run([server], input=bytes(out), capture_output=True, timeout=60)
    data = run.stdout
    while data:
        head, sep, rest = data.partition(b"\r\n\r\n")
        if not sep or not head.startswith(b"Content-Length: "):
            sys.exit("bad frame: %r" % data[:80])
        length = int(head[len(b"Content-Length: "):])
        body, data = rest[:length], rest[length:]
        if len(body) != length:
            sys.exit("short frame")
        print(body.decode("utf-8"))
    sys.stderr.buffer.write(run.stderr)
    print("exit %d" % run.returncode)


main()
