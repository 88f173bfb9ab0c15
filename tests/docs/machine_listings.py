#!/usr/bin/env python3
"""Checks that each program of the guide to the machine compiles to the
listing the guide shows beside it, so that the guide follows the compiler.

    machine_listings.py TSUMIKI_INSPECT GUIDE

In the guide a program is a fenced block starting with "program"; the next
fenced block after "Its listing:" is its listing, "i: OPC(l,a)" per line.
"""
import re
import subprocess
import sys
import tempfile
from pathlib import Path

inspect, guide = sys.argv[1], Path(sys.argv[2])
blocks = re.findall(r"```\n(.*?)```", guide.read_text(encoding="utf-8"), re.S)
failures = 0
checked = 0
for k, block in enumerate(blocks):
    if not block.startswith("program") or k + 1 >= len(blocks):
        continue
    shown = [line for line in blocks[k + 1].splitlines() if re.match(r"^\d+: ", line)]
    with tempfile.NamedTemporaryFile("w", suffix=".tsu", delete=False) as f:
        f.write(block)
        path = f.name
    out = subprocess.run([inspect, "list", path], capture_output=True, check=False).stdout
    Path(path).unlink()
    listed = [line for line in out.decode("cp932", "replace").splitlines() if re.match(r"^\d+: ", line)]
    checked += 1
    if listed != shown:
        failures += 1
        name = block.split()[1].rstrip(";")
        print(f"{guide}: the listing of {name} is not what the compiler lists:")
        print("\n".join(listed))
print(f"{checked} listings checked, {failures} differ")
sys.exit(1 if failures or checked == 0 else 0)
