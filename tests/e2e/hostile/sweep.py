#!/usr/bin/env python3
"""Runs the program over a family of hostile inputs and checks every run.

    sweep.py BINARY FAMILY

Every run must end with the exact output (decoded from code page 932) and
exit status that the family's rule gives; each difference is printed and the
sweep fails.  The families:
  byte-alone     each of the 256 byte values, then a line break, as the source
  byte-between   each byte value between write(1) and end in a whole program
  byte-input     each byte value before "5" on the standard input of read
  truncated      a whole program cut after every one of its bytes
  junk-after     random bytes after the final period and line break
  junk-high      random bytes starting with a byte above 127
  junk           random bytes: one error line of the lexer or parser, status 1
"""
import os
import random
import subprocess
import sys
import tempfile

EOF_ERROR = "字句エラー: ファイルの終り\n"
BAD_TOKEN = "字句エラー: 認識できないトークン\n"
NO_PROGRAM = "構文エラー: 予約語programがありません\n"
NO_BLOCK_END = "構文エラー: ブロックのおわりのendがありません\n"
PROMPT = "数を入力して下さい>"
NO_NUMBER = "実行中にエラーがおきました: 数が読み込めませんでした\n"

BLANKS = b" \t\n\r"
SINGLE_TOKENS = b"()*+,-;=[].<>"

# A program with every statement form, declaration form and both kinds of
# routine; its output under INPUT.
WHOLE = b"""program whole(a, var r);
var x, y, v[1..5];
function f(n);
begin if n <= 1 then f := 1 else f := n * f(n - 1) end;
procedure swap(var i, var j);
var k;
begin k := i; i := j; j := k end;
begin
  read(x); read(v[2]);
  y := -x div 2;
  while x > 0 do begin v[x] := f(x); x := x - 1 end;
  swap(v[1], v[2]);
  if v[5] <> 120 then write(0) else write(v[5]);
  write(v[1]); write(y); write(v[3] * (2 + 3))
end.
"""
WHOLE_INPUT = b"5 77\n"
WHOLE_OUTPUT = PROMPT + PROMPT + "120\n2\n-2\n30\n"

ERROR_LINES = {
    EOF_ERROR, BAD_TOKEN, "字句エラー: 識別子が長すぎます(31文字まで)\n", NO_PROGRAM,
    "構文エラー: プログラム名がありません\n",
    "構文エラー: 手続き(関数)名のあとにセミコロンがありません\n",
    "構文エラー: 仮引数に識別子でないもの\n",
    "構文エラー: 仮引数(参照呼び)に識別子でないもの\n",
    "構文エラー: 手続きまたは関数の引数のとじかっこがありません\n",
    "構文エラー: ブロックのはじまりのbeginがありません\n",
    "構文エラー: 引数が多すぎます(32個まで)\n",
}


def is_letter(c):
    return ord("a") <= c <= ord("z") or ord("A") <= c <= ord("Z")


def is_digit(c):
    return ord("0") <= c <= ord("9")


class Sweep:
    def __init__(self, binary):
        self.binary = binary
        self.dir = tempfile.mkdtemp(prefix="sweep")
        self.failures = 0
        self.runs = 0

    def run(self, source, stdin=b""):
        path = os.path.join(self.dir, "prog.tsu")
        with open(path, "wb") as f:
            f.write(source)
        done = subprocess.run([self.binary, path], input=stdin, stdout=subprocess.PIPE,
                              timeout=60)
        self.runs += 1
        try:
            out = done.stdout.decode("cp932")
        except UnicodeDecodeError:
            out = repr(done.stdout)
        return out, done.returncode

    def expect(self, what, source, out, status, stdin=b""):
        got, code = self.run(source, stdin)
        ok = got in out if isinstance(out, set) else got == out
        if not ok or code != status:
            self.failures += 1
            if self.failures <= 20:
                print("%s: status %d, output %r; expected status %d, output %r"
                      % (what, code, got, status, out))


def byte_alone(sw):
    for c in range(256):
        if c in BLANKS or c == 0x1A:
            want = EOF_ERROR
        elif is_letter(c) or is_digit(c) or c in SINGLE_TOKENS:
            want = NO_PROGRAM
        else:
            want = BAD_TOKEN
        sw.expect("byte %d alone" % c, bytes([c]) + b"\n", want, 1)


def byte_between(sw):
    for c in range(256):
        source = b"program p;\nbegin write(1)" + bytes([c]) + b"end.\n"
        if c in BLANKS or c == ord(";"):
            sw.expect("byte %d between" % c, source, "1\n", 0)
            continue
        if c == 0x1A:
            want = EOF_ERROR
        elif is_letter(c) or is_digit(c) or c in SINGLE_TOKENS:
            want = NO_BLOCK_END
        else:
            want = BAD_TOKEN
        sw.expect("byte %d between" % c, source, want, 1)


def byte_input(sw):
    source = b"program p;\nvar x;\nbegin x := 9; read(x); write(x); read(x); write(x) end.\n"
    for c in range(256):
        if c in b" \t\n\r\v\f" or c == ord("+"):
            value = "5"
        elif c == ord("-"):
            value = "-5"
        elif is_digit(c):
            value = chr(c) + "5"
        else:
            value = None
        if value is None:
            # Nothing converts: the first read stops the run, after its prompt.
            want = PROMPT + NO_NUMBER
        else:
            # The first read takes the whole input; the second finds its end.
            want = PROMPT + str(int(value)) + "\n" + PROMPT + NO_NUMBER
        sw.expect("input byte %d" % c, source, want, 1, bytes([c]) + b"5")


def truncated(sw):
    sw.expect("whole program", WHOLE, WHOLE_OUTPUT, 0, WHOLE_INPUT)
    for n in range(len(WHOLE)):
        sw.expect("first %d bytes" % n, WHOLE[:n], EOF_ERROR, 1, WHOLE_INPUT)


def junk_after(sw):
    rng = random.Random(1)
    for i in range(60):
        junk = bytes(rng.randrange(256) for _ in range(rng.randrange(1, 2000)))
        sw.expect("junk after the program, seed %d" % i, WHOLE + junk, WHOLE_OUTPUT, 0,
                  WHOLE_INPUT)


def junk_high(sw):
    rng = random.Random(2)
    for i in range(60):
        junk = bytes([rng.randrange(128, 256)])
        junk += bytes(rng.randrange(256) for _ in range(rng.randrange(0, 2000)))
        sw.expect("junk with a high first byte, seed %d" % i, junk, BAD_TOKEN, 1)
        sw.expect("junk in a body, seed %d" % i, b"program p;\nbegin " + junk, BAD_TOKEN, 1)


def junk(sw):
    rng = random.Random(3)
    # Bytes the lexer knows, so that junk gets past the first token now and then.
    alphabet = b"program p;var(),.:=[]+-*<>0123456789 \n\tbeginend" + bytes(range(256))
    for i in range(300):
        size = rng.randrange(0, 300)
        data = bytes(rng.choice(alphabet) for _ in range(size))
        if i % 2:
            data = b"program " + data
        sw.expect("random bytes, seed %d" % i, data, ERROR_LINES, 1)


FAMILIES = {
    "byte-alone": byte_alone,
    "byte-between": byte_between,
    "byte-input": byte_input,
    "truncated": truncated,
    "junk-after": junk_after,
    "junk-high": junk_high,
    "junk": junk,
}


def main():
    binary, family = sys.argv[1], sys.argv[2]
    sw = Sweep(binary)
    FAMILIES[family](sw)
    print("%s: %d runs, %d failed" % (family, sw.runs, sw.failures))
    return 1 if sw.failures else 0


if __name__ == "__main__":
    sys.exit(main())
