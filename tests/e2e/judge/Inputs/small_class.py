"""Writes the class of small.test into the folder given: 5 cases, each
reading n and expecting the numbers 1 to n, and 30 submissions: every
fourth right, the others wrong (a number off), failing (a division by
zero) or endless (a loop that never ends), in turn."""
import os
import sys

work = sys.argv[1]
PROMPT = "数を入力して下さい>"
for k in range(1, 6):
    n = 100 * k
    with open(os.path.join(work, "cases", f"{k}.in"), "w") as f:
        f.write(f"{n}\n")
    with open(os.path.join(work, "cases", f"{k}.out"), "w") as f:
        f.write(PROMPT + "".join(f"{i}\n" for i in range(1, n + 1)))
BODIES = [
    "    write(i);\n",                      # right
    "    if i = 50 then write(0) else write(i);\n",  # WA at line 50
    "    write(i + 60 div (60 - i));\n",    # RE at i = 60 (WA before it)
    "    write(i);\n    while i > 70 do i := i;\n",  # TLE after 70 lines
]
for s in range(1, 31):
    body = BODIES[0] if s % 4 == 0 else BODIES[s % 4]
    source = ("program p;\nvar n, i;\nbegin\n  read(n);\n  i := 1;\n"
              "  while i <= n do\n  begin\n" + body + "    i := i + 1\n  end\nend.\n")
    with open(os.path.join(work, "class", f"s{s:02}.tsu"), "w") as f:
        f.write(source)
