"""Drives tsumiki-dap over pipes, one request at a time, and prints what it says.

    client.py ADAPTER SCRIPT

Each line of SCRIPT is one step:
  COMMAND [ARGS]   a request (ARGS a JSON object); waits for its response
  {...}            a whole message as written, framed; waits for the
                   response if it is a request with a seq
  WAIT EVENT       waits for that event
  FLOOD n COMMAND [ARGS]
                   n requests at once, without waiting: their responses are
                   not printed but counted, for TALLY
  TALLY            waits for every response to the FLOOD's requests, then
                   prints how many of each kind came ("N x {...}", without
                   request_seq), in the order of their text
  RAW text         the text as a message body, framed; does not wait
  DEEP n text      the text with its "@" replaced by n "[" and n "]", framed;
                   waits for the response if it is a request with a seq
  BYTES text       the text sent as it is, unframed (Python escapes allowed)
  SLEEP seconds    lets the adapter run
  LIMIT seconds    from now on, what is not answered within that time
                   prints "TIMEOUT" and ends the test
  # ...            ignored
Every message of the adapter is printed on a line as it came, without its
seq (each frame's Content-Length and the seq's order are checked), then,
once the script is done and the adapter's input is closed, "exit N".
Anything not answered within 20 seconds (or the LIMIT) prints "TIMEOUT"
and ends the test.
"""
import json
import queue
import subprocess
import sys
import threading
import time

LIMIT = 20


def frame(body):
    return b"Content-Length: %d\r\n\r\n" % len(body) + body


def read_frames(stream, messages):
    while True:
        head = b""
        while not head.endswith(b"\r\n\r\n"):
            c = stream.read(1)
            if not c:
                messages.put(None)
                return
            head += c
        if not head.startswith(b"Content-Length: "):
            messages.put(("bad frame: %r" % head))
            continue
        length = int(head[len(b"Content-Length: "):-4])
        body = stream.read(length)
        if len(body) != length:
            messages.put("short frame")
            messages.put(None)
            return
        messages.put(json.loads(body.decode("utf-8")))


class Client:
    def __init__(self, adapter):
        self.proc = subprocess.Popen([adapter], stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        self.messages = queue.Queue()
        threading.Thread(target=read_frames, args=(self.proc.stdout, self.messages), daemon=True).start()
        self.seq = 0
        self.last_seq = 0
        self.flooding = set()  # the seqs of the FLOOD's requests not yet answered
        self.tally = {}
        self.limit = LIMIT

    def send(self, data):
        self.proc.stdin.write(data)
        self.proc.stdin.flush()

    def show(self, message):
        if isinstance(message, str):
            print(message)
            return
        seq = message.pop("seq", None)
        if not isinstance(seq, int) or seq <= self.last_seq:
            print("bad seq: %r" % seq)
        else:
            self.last_seq = seq
        if message.get("type") == "response" and message.get("request_seq") in self.flooding:
            self.flooding.discard(message.pop("request_seq"))
            key = json.dumps(message, sort_keys=True, ensure_ascii=False, separators=(",", ":"))
            self.tally[key] = self.tally.get(key, 0) + 1
            return
        print(json.dumps(message, sort_keys=True, ensure_ascii=False, separators=(",", ":")))

    def until(self, done):
        deadline = time.time() + self.limit
        while True:
            try:
                message = self.messages.get(timeout=max(0.1, deadline - time.time()))
            except queue.Empty:
                print("TIMEOUT")
                self.proc.kill()
                sys.exit(1)
            if message is None:
                print("(the adapter closed its output)")
                return
            self.show(message)
            if isinstance(message, dict) and done(message):
                return

    def request(self, message):
        if "seq" not in message:
            self.seq += 1
            message["seq"] = self.seq
        self.send(frame(json.dumps(message, ensure_ascii=False).encode("utf-8")))
        seq = message["seq"]
        self.until(lambda m: m.get("type") == "response" and m.get("request_seq") == seq)

    def finish(self):
        self.proc.stdin.close()
        while True:
            try:
                message = self.messages.get(timeout=LIMIT)
            except queue.Empty:
                print("TIMEOUT")
                self.proc.kill()
                sys.exit(1)
            if message is None:
                break
            self.show(message)
        print("exit %d" % self.proc.wait(timeout=LIMIT))


def main():
    client = Client(sys.argv[1])
    for line in open(sys.argv[2], encoding="utf-8"):
        line = line.strip()
        if not line or line.startswith("#"):
            continue
        word, _, rest = line.partition(" ")
        if word == "WAIT":
            client.until(lambda m: m.get("type") == "event" and m.get("event") == rest)
        elif word == "FLOOD":
            n, _, rest = rest.partition(" ")
            command, _, args = rest.partition(" ")
            data = b""
            for _ in range(int(n)):
                client.seq += 1
                client.flooding.add(client.seq)
                request = {"type": "request", "command": command, "seq": client.seq}
                if args:
                    request["arguments"] = json.loads(args)
                data += frame(json.dumps(request).encode("utf-8"))
            client.send(data)
        elif word == "TALLY":
            if client.flooding:
                client.until(lambda m: not client.flooding)
            for key in sorted(client.tally):
                print("%d x %s" % (client.tally[key], key))
            client.tally = {}
        elif word == "RAW":
            client.send(frame(rest.encode("utf-8")))
        elif word == "DEEP":
            n, _, text = rest.partition(" ")
            client.send(frame(text.replace("@", "[" * int(n) + "]" * int(n)).encode("utf-8")))
            shallow = json.loads(text.replace("@", "0"))
            if shallow.get("type") == "request" and isinstance(shallow.get("seq"), int):
                client.until(lambda m: m.get("type") == "response" and m.get("request_seq") == shallow["seq"])
        elif word == "BYTES":
            client.send(rest.encode("utf-8").decode("unicode_escape").encode("latin-1"))
        elif word == "SLEEP":
            time.sleep(float(rest))
        elif word == "LIMIT":
            client.limit = float(rest)
        elif line.startswith("{"):
            message = json.loads(line)
            if message.get("type") == "request" and isinstance(message.get("seq"), int):
                client.request(message)
            else:
                client.send(frame(line.encode("utf-8")))
        else:
            request = {"type": "request", "command": word}
            if rest:
                request["arguments"] = json.loads(rest)
            client.request(request)
    client.finish()


main()
