#!/usr/bin/env python3
"""Writes one hostile program, too big to keep in the repository, to a file.

    gen.py KIND N FILE

KIND chooses the shape and N its size:
  parens    write(((...7...))) with N pairs of parentheses
  begins    N compound statements nested inside the body, around write(7)
  ifs       N nested "if 1 = 1 then" around write(7)
  whiles    N nested "while 0 = 1 do" around write(7), then write(8)
  minus     write(7 - - ... ) is not the language; instead N unary signs
            spread over N nested parentheses: write(-(-(...7...)))
  ident     a variable whose name is N letters
  numeral   write(<N nines>)
  vars      N scalar variables; the last one is written
  params    a procedure with N value parameters, called with N arguments
  args      a procedure with one parameter, called with N arguments
  formals   a main program heading with N parameters
  procs     N procedures, each declared inside the one before and calling
            the next; the innermost writes a variable of the main program
  writes    N statements write(1), then write(-1)
  junk      N random bytes (seeded by N), then a line break
"""
import random
import sys


def names(n):
    return ["v%d" % i for i in range(1, n + 1)]


def generate(kind, n):
    if kind == "parens":
        return "program p;\nbegin write(" + "(" * n + "7" + ")" * n + ") end.\n"
    if kind == "begins":
        return "program p;\nbegin " + "begin " * n + "write(7)" + " end" * n + " end.\n"
    if kind == "ifs":
        return "program p;\nbegin " + "if 1 = 1 then " * n + "write(7) end.\n"
    if kind == "whiles":
        return "program p;\nbegin " + "while 0 = 1 do " * n + "write(7); write(8) end.\n"
    if kind == "minus":
        return "program p;\nbegin write(" + "-(" * n + "7" + ")" * n + ") end.\n"
    if kind == "ident":
        name = ("abcdefghijklmnopqrstuvwxyz" * (n // 26 + 1))[:n]
        return "program p;\nvar %s;\nbegin %s := 5; write(%s) end.\n" % (name, name, name)
    if kind == "numeral":
        return "program p;\nbegin write(" + "9" * n + ") end.\n"
    if kind == "vars":
        v = names(n)
        return "program p;\nvar %s;\nbegin %s := 3; write(%s) end.\n" % (", ".join(v), v[-1], v[-1])
    if kind == "params":
        v = names(n)
        return ("program p;\nprocedure q(%s);\nbegin write(%s) end;\nbegin q(%s) end.\n"
                % (", ".join(v), v[-1], ", ".join(str(i) for i in range(1, n + 1))))
    if kind == "args":
        return ("program p;\nprocedure q(x);\nbegin write(x) end;\nbegin q(%s) end.\n"
                % ", ".join(str(i) for i in range(1, n + 1)))
    if kind == "formals":
        return "program p(%s);\nbegin write(1) end.\n" % ", ".join(names(n))
    if kind == "procs":
        heads = "".join("procedure q%d;\n" % i for i in range(1, n + 1))
        bodies = "begin write(g) end;\n"
        bodies += "".join("begin q%d end;\n" % i for i in range(n, 1, -1))
        return "program p;\nvar g;\n" + heads + bodies + "begin g := 1; q1 end.\n"
    if kind == "writes":
        return "program p;\nbegin\n" + "write(1);\n" * n + "write(-1)\nend.\n"
    if kind == "junk":
        rng = random.Random(n)
        return bytes(rng.randrange(256) for _ in range(n)) + b"\n"
    raise SystemExit("unknown kind: " + kind)


def main():
    kind, n, path = sys.argv[1], int(sys.argv[2]), sys.argv[3]
    text = generate(kind, n)
    with open(path, "wb") as f:
        f.write(text if isinstance(text, bytes) else text.encode("ascii"))


if __name__ == "__main__":
    main()
