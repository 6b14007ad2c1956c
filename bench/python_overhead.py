#!/usr/bin/python3
"""The cost of calling compare() from Python over calling it from C++.

Each bundled interface is compared with the next one (32 pairs), REPEATS
times per pair, by bench/tools/time_compare (C++) and by tarvix.compare from
this interpreter (the interfaces read once, the score read from each
Result), in ROUNDS alternating rounds so that a noisy machine slows both
alike. Per pair the lowest CPU time of the rounds counts. Prints, for
sequential and non-sequential comparisons, the total of both and the
overhead of the Python calls, in percent.

Usage: bench/python_overhead.py BUILD_DIR [REPEATS] [ROUNDS]
  BUILD_DIR holds python/tarvix and time_compare (cmake --build BUILD_DIR
  --target time_compare).
"""
import os
import pathlib
import statistics
import subprocess
import sys
import time

here = pathlib.Path(__file__).resolve().parent
build = pathlib.Path(sys.argv[1]).resolve()
repeats = int(sys.argv[2]) if len(sys.argv) > 2 else 5
rounds = int(sys.argv[3]) if len(sys.argv) > 3 else 5
sys.path.insert(0, str(build / "python"))
import tarvix  # noqa: E402

data = here.parent / "tests" / "data"
names = sorted(p.stem for p in data.glob("*.pdb"))
interfaces = [tarvix.Interface(str(data / f"{n}.pdb"), str(data / f"{n}.contacts")) for n in names]


def from_cpp(options):
    out = subprocess.run([str(build / "time_compare"), str(data), str(repeats), *options],
                         capture_output=True, text=True, check=True).stdout
    return {tuple(line.split()[:2]): float(line.split()[2]) for line in out.splitlines()}


def from_python(options):
    kw = {"sequential": False} if options else {}
    times = {}
    for k, a in enumerate(interfaces):
        j = (k + 1) % len(names)
        b = interfaces[j]
        tarvix.compare(a, b, **kw).score
        start = time.process_time()
        for _ in range(repeats):
            tarvix.compare(a, b, **kw).score
        times[(names[k], names[j])] = time.process_time() - start
    return times


for label, options in (("sequential", []), ("non-sequential", ["-s"])):
    best_c, best_p = {}, {}
    for r in range(rounds):
        order = (from_cpp, from_python) if r % 2 == 0 else (from_python, from_cpp)
        for run in order:
            best = best_c if run is from_cpp else best_p
            for pair, t in run(options).items():
                best[pair] = min(best.get(pair, t), t)
    c, p = sum(best_c.values()), sum(best_p.values())
    ratio = statistics.median(best_p[k] / best_c[k] for k in best_c)
    print(f"{label:15s} {len(best_c)} pairs x {repeats}: C++ {c:.3f} s, Python {p:.3f} s CPU; "
          f"overhead {100 * (p / c - 1):+.1f}% (median pair {100 * (ratio - 1):+.1f}%)")
