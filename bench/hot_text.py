#!/usr/bin/env python3
"""Writes the linker script that places the code a comparison runs together.

A comparison of two small interfaces takes a few milliseconds, and on a virtual
machine each page of program text it maps costs about half a microsecond: the
kernel maps the text 64 KiB at a time around each page fault, so what counts is
how many 64 KiB windows the executed code is spread over. Left to the linker,
the few hundred functions that run (ours, and the parts of the C and C++
libraries that start the program, read the files and print the report) are
spread over most of the program's 2 MiB; placed together they fill a quarter
of it, and a comparison takes about 15 fewer page faults.

This script runs a build of Tarvix linked with a map file (-Wl,-Map=FILE)
under callgrind on a bundled pair with several option sets, finds the input
sections that hold an executed instruction, and writes a linker script that
puts them, in their present order, into an output section before .text. Our
code and the C++ library are compiled with a section per function; the C
library keeps one .text per object file, named by archive member. Sections the
script names that a later build no longer has are simply not found: a stale
script costs speed, never correctness.

Usage: bench/hot_text.py BINARY MAP_FILE > src/hot_text.ld
  (BINARY linked with -Wl,-Map=MAP_FILE, with or without src/hot_text.ld, for
  example: cmake -S . -B build-map -DCMAKE_BUILD_TYPE=Release -DTARVIX_TESTS=OFF
  -DCMAKE_EXE_LINKER_FLAGS=-Wl,-Map=tarvix.map; needs valgrind)
"""
import bisect
import os
import re
import subprocess
import sys
import tempfile

OPTION_SETS = [[], ["-s"], ["-t"], ["-v", "2"], ["-v", "1"], ["-ca"], ["-a", "-d0", "3.5"]]
PAIR = ("1MLC_AB", "2I25_AB")


def executed_addresses(binary, data):
    """Instruction addresses that callgrind saw executed."""
    addrs = set()
    with tempfile.TemporaryDirectory() as tmp:
        for k, opts in enumerate(OPTION_SETS):
            out = os.path.join(tmp, f"cg{k}")
            files = [f"{PAIR[0]}.pdb", f"{PAIR[1]}.pdb"]
            if "-ca" not in opts:
                files += [f"{PAIR[0]}.contacts", f"{PAIR[1]}.contacts"]
            subprocess.run(["valgrind", "--tool=callgrind", "--dump-instr=yes",
                            f"--callgrind-out-file={out}", binary, *files, *opts],
                           cwd=data, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                           check=True)
            # Positions are absolute (0x...), relative to the last one (+n, -n)
            # or the same again (*).
            last = 0
            with open(out) as f:
                for line in f:
                    c = line[0]
                    if line.startswith("0x"):
                        last = int(line.split()[0], 16)
                    elif c in "+-":
                        try:
                            last += int(line.split()[0])
                        except ValueError:
                            continue
                    elif c != "*":
                        continue
                    addrs.add(last)
    return sorted(addrs)


def text_input_sections(map_file):
    """(address, size, section, object) of the input sections of .text."""
    lines = open(map_file).read().split("\n")
    sections = []
    in_text = False
    i = 0
    while i < len(lines):
        line = lines[i]
        if line.startswith((".text ", ".text.hot_path")):  # (a build made with this script)
            in_text = True
        elif in_text and line and not line.startswith(" "):
            in_text = False
        if in_text:
            one = re.match(r"^ (\.text\S*)\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)\s+(\S.*)$", line)
            name = re.match(r"^ (\.text\S*)\s*$", line)
            if one:
                sections.append((int(one.group(2), 16), int(one.group(3), 16), one.group(1),
                                 one.group(4).strip()))
            elif name and i + 1 < len(lines):
                rest = re.match(r"^\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)\s+(\S.*)$", lines[i + 1])
                if rest:
                    sections.append((int(rest.group(1), 16), int(rest.group(2), 16), name.group(1),
                                     rest.group(3).strip()))
                    i += 1
        i += 1
    return sorted(s for s in sections if s[1] > 0)


def pattern(section, obj):
    """The input-section pattern for one section of one object."""
    member = re.match(r"^(?:.*/)?([^/(]+\.a)\(([^)]+)\)$", obj)
    if member and (section == ".text" or not member.group(1).startswith(("libtarvix", "libstdc++"))):
        return f"*{member.group(1)}:{member.group(2)}({section})"
    if not member:
        return f"*{os.path.basename(obj)}({section})"
    return f"*({section})"


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    binary, map_file = os.path.realpath(sys.argv[1]), sys.argv[2]
    data = os.path.join(os.path.dirname(os.path.realpath(__file__)), "..", "tests", "data")
    sections = text_input_sections(map_file)
    starts = [s[0] for s in sections]
    used = {}
    for a in executed_addresses(binary, data):
        k = bisect.bisect_right(starts, a) - 1
        if k >= 0 and a < sections[k][0] + sections[k][1]:
            used[k] = sections[k]
    size = sum(s[1] for s in used.values())
    print(f"{len(used)} of {len(sections)} sections, {size} bytes", file=sys.stderr)
    seen = set()
    print("/* Made by bench/hot_text.py: the code a comparison runs, placed together. */")
    print("SECTIONS\n{\n  .text.hot_path :\n  {")
    for k in sorted(used):
        p = pattern(used[k][2], used[k][3])
        if p not in seen:
            seen.add(p)
            print(f"    {p}")
    print("  }\n}\nINSERT BEFORE .text;")


if __name__ == "__main__":
    main()
