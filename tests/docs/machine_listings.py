#!/usr/bin/env python3
"""Checks that each program of a guide (the guide to the machine, the
guide to the compiler) compiles to the listing the guide shows beside it,
so that the guide follows the compiler, and that what the guide to the
machine says of the call instructions holds in every one of those
listings.

    machine_listings.py TSUMIKI_INSPECT GUIDE

In the guide a program is a fenced block starting with "program"; the next
fenced block after "Its listing:" is its listing, "i: OPC(l,a)" per line,
each line possibly followed by a note after " ; ".  A listing anywhere
else, after no program, is a failure: it would go unchecked.

What the guide says, and how it is checked against each compiled program
(its declarations read from the source, its blocks from the listing):

  - `MST l,a`: a is 3 for a procedure, 4 for a function;
  - `CUP l,a`: l counts the arguments, and a function's result's cell;
  - `ENT 0,a`: the frame is a+1 cells: three links, a function's result,
    the parameters and the variables (an array's every element).

The guide to the machine must keep saying so: each of its STATEMENTS must
be in it.
"""
import re
import subprocess
import sys
import tempfile
from pathlib import Path

STATEMENTS = {
    "machine.md": [
        "`MST l,3` calls a\nprocedure, `MST l,4` a function",
        "`square(7)` is `CUP 2,1`",
        "so a+1 cells long",
    ],
}

TOKEN = re.compile(r"\d+|\w+|\.\.|:=|\S")


class Block:
    """A routine's or the program's declarations."""

    def __init__(self, name, function, params):
        self.name, self.function, self.params = name, function, params
        self.cells = 0  # its variables' cells
        self.routines = []


def parse_block(tokens, i, block):
    # block = [ "var" names ";" ] { ("procedure" | "function") name [ "(" params ")" ] ";" block ";" } "begin" ... "end"
    if tokens[i] == "var":
        i += 1
        while tokens[i] != ";":
            if tokens[i + 1] == "[":  # name [ low .. high ]
                low, high = int(tokens[i + 2]), int(tokens[i + 4])
                block.cells += abs(high - low) + 1
                i += 6
            else:
                block.cells += 1
                i += 1
            if tokens[i] == ",":
                i += 1
        i += 1
    while tokens[i] in ("procedure", "function"):
        function, name = tokens[i] == "function", tokens[i + 1]
        i += 2
        params = 0
        if tokens[i] == "(":
            while tokens[i] != ")":
                i += 1
                if tokens[i] == "var":
                    i += 1
                params += 1
                i += 1
            i += 1
        routine = Block(name, function, params)
        block.routines.append(routine)
        i = parse_block(tokens, i + 1, routine) + 1
    depth = 0
    while True:  # the statements, to the block's own "end"
        depth += {"begin": 1, "end": -1}.get(tokens[i], 0)
        i += 1
        if depth == 0:
            return i


def declared_blocks(source):
    """The program's block and its routines', in the order of the source."""
    tokens = TOKEN.findall(source)
    program = Block(tokens[1], False, 0)
    parse_block(tokens, 3, program)
    order = []

    def walk(block):
        order.append(block)
        for routine in block.routines:
            walk(routine)

    walk(program)
    return order


def compiled_blocks(code, start, found):
    """Adds to `found` the block of the listing that starts at `start` (its
    UJP over the routines inside) and those inside it, each as (start, its
    ENT's index, its last index); returns its last index."""
    entry = code[start][2]
    i = start + 1
    while i < entry:
        i = compiled_blocks(code, i, found) + 1
    end = next(k for k in range(entry, len(code)) if code[k][0] in ("RET", "FRT", "HLT"))
    found.append((start, entry, end))
    return end


def check_calls(name, source, code):
    failures = []
    declared = declared_blocks(source)
    found = []
    compiled_blocks(code, 0, found)
    # Declared in the order in which they start.
    found.sort(key=lambda f: f[0])
    if len(found) != len(declared):
        return [f"{name}: {len(declared)} blocks declared, {len(found)} compiled"]
    by_start = {}
    for block, (start, entry, end) in zip(declared, found):
        by_start[start] = block
        function = code[end][0] == "FRT"
        if function != block.function:
            failures.append(f"{name}: {block.name} ends with {code[end][0]}")
        cells = 3 + block.function + block.params + block.cells
        if code[entry][2] + 1 != cells:
            failures.append(f"{name}: ENT(0,{code[entry][2]}) of {block.name}, whose frame has {cells} cells")
    calls = []  # the MSTs whose CUP has not come yet
    for i, (op, _, a) in enumerate(code):
        if op == "MST":
            calls.append(i)
        elif op == "CUP":
            mst = calls.pop()
            callee = by_start.get(a)
            if callee is None:
                failures.append(f"{name}: {i}: CUP to {a}, where no routine starts")
                continue
            if code[mst][2] != 3 + callee.function:
                failures.append(f"{name}: {mst}: MST(_,{code[mst][2]}) before a call of {callee.name}")
            if code[i][1] != callee.params + callee.function:
                failures.append(f"{name}: {i}: CUP({code[i][1]},{a}) calls {callee.name}, "
                                f"with {callee.params} parameters")
    return failures


inspect, guide = sys.argv[1], Path(sys.argv[2])
text = guide.read_text(encoding="utf-8")
failures = [f"{guide} no longer says: {s!r}" for s in STATEMENTS.get(guide.name, []) if s not in text]
blocks = re.findall(r"```\n(.*?)```", text, re.S)
differ = 0
checked = 0
LISTED = re.compile(r"^\d+: [A-Z]{3}\(", re.M)
for k, block in enumerate(blocks):
    if LISTED.search(block) and (k == 0 or not blocks[k - 1].startswith("program")):
        failures.append(f"{guide}: a listing after no program: {block.splitlines()[0]!r}")
    if not block.startswith("program") or k + 1 >= len(blocks):
        continue
    shown = [re.sub(r" +; .*$", "", line) for line in blocks[k + 1].splitlines() if re.match(r"^\d+: ", line)]
    with tempfile.NamedTemporaryFile("w", suffix=".tsu", delete=False) as f:
        f.write(block)
        path = f.name
    out = subprocess.run([inspect, "list", path], capture_output=True, check=False).stdout
    Path(path).unlink()
    listed = [line for line in out.decode("cp932", "replace").splitlines() if re.match(r"^\d+: ", line)]
    checked += 1
    name = block.split()[1].rstrip(";")
    if listed != shown:
        differ += 1
        print(f"{guide}: the listing of {name} is not what the compiler lists:")
        print("\n".join(listed))
    code = [(m[1], int(m[2]), int(m[3])) for m in (re.match(r"^\d+: (\w+)\((-?\d+),(-?\d+)\)$", line)
                                                     for line in listed)]
    failures += check_calls(name, block, code)
for failure in failures:
    print(failure)
print(f"{checked} listings checked, {differ} differ")
sys.exit(1 if differ or failures or checked == 0 else 0)
