#!/usr/bin/env python3
"""Runs two Tarvix builds over the bundled interfaces and compares them.

Every interface is compared with every other one and with itself, under each
option set, by both builds; the runs of the two builds are interleaved (old,
new, old, new, ... with the order alternating) so that a noisy machine slows
both alike. The reports must be byte-identical apart from the running-time
line, and so must the exit statuses. Prints, per option set, the number of
identical reports, the CPU-time ratio old/new of the whole set and the median
of the per-pair ratios, and exits with status 1 on any difference.

Each build runs from several copies of its file, in turn: where the system
happens to place one file's pages in memory can make every run of it a few
percent slower or faster than an identical copy, and the copies average that
out.

Usage: bench/compare_builds.py OLD_BINARY NEW_BINARY [--quick] [--sets K,..] [-j N] [--retime R]
                               [--copies C]
  --quick   each interface against the next one only (32 pairs per set)
  --sets    only the option sets with these numbers (0-based, in the order below)
  -j N      parallel runs (default: the number of processors)
  --retime R  runs the three lowest pairs of each set again, R times per build,
            one comparison at a time and interleaved, and prints their median
            ratios: a single run of one pair is at the mercy of the machine
  --copies C  copies of each build to run from (default 4)
"""
import argparse
import concurrent.futures
import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile

OPTION_SETS = [
    [], ["-t"], ["-s"], ["-s", "-t"], ["-ca"], ["-ca", "-s"], ["-q", "2"], ["-v", "2"],
    ["-a", "-d0", "3.5"], ["-L", "40", "-seqd0", "-s"], ["-dmin", "1.0", "-t"],
]
TIME_LINE = re.compile(rb"^Running time: .*$", re.M)


def run(binary, args, cwd):
    """Runs one comparison; returns (exit status, masked report, CPU seconds)."""
    with tempfile.TemporaryFile() as out:
        proc = subprocess.Popen([binary, *args], cwd=cwd, stdout=out, stderr=subprocess.STDOUT)
        _, status, usage = os.wait4(proc.pid, 0)
        proc.returncode = os.waitstatus_to_exitcode(status)
        out.seek(0)
        report = TIME_LINE.sub(b"Running time: (masked)", out.read())
    return proc.returncode, report, usage.ru_utime + usage.ru_stime


def job(old, new, args, cwd, new_first):
    order = [(new, 1), (old, 0)] if new_first else [(old, 0), (new, 1)]
    res = [None, None]
    for binary, slot in order:
        res[slot] = run(binary, args, cwd)
    return res


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("old")
    ap.add_argument("new")
    ap.add_argument("--quick", action="store_true")
    ap.add_argument("--sets", default="")
    ap.add_argument("-j", type=int, default=os.cpu_count() or 2)
    ap.add_argument("--retime", type=int, default=0)
    ap.add_argument("--copies", type=int, default=4)
    opt = ap.parse_args()
    with tempfile.TemporaryDirectory() as tmp:
        copies = []
        for tag, path in (("old", opt.old), ("new", opt.new)):
            copies.append([])
            for c in range(max(opt.copies, 1)):
                dest = os.path.join(tmp, f"{tag}{c}")
                shutil.copy2(os.path.realpath(path), dest)
                copies[-1].append(dest)
        return compare(opt, *copies)


def compare(opt, olds, news):
    data = os.path.join(os.path.dirname(os.path.realpath(__file__)), "..", "tests", "data")
    names = sorted(f[:-7] for f in os.listdir(data) if f.endswith("_AB.pdb"))
    if opt.quick:
        pairs = [(a, names[(k + 1) % len(names)]) for k, a in enumerate(names)]
    else:
        pairs = [(a, b) for a in names for b in names]

    failed = False
    with concurrent.futures.ThreadPoolExecutor(opt.j) as pool:
        chosen = [int(k) for k in opt.sets.split(",")] if opt.sets else range(len(OPTION_SETS))
        for opts in (OPTION_SETS[k] for k in chosen):
            futures = []
            for k, (a, b) in enumerate(pairs):
                files = [f"{a}_AB.pdb", f"{b}_AB.pdb"]
                if "-ca" not in opts:
                    files += [f"{a}_AB.contacts", f"{b}_AB.contacts"]
                c = k // 2 % len(olds)
                futures.append(((a, b), opts + files,
                                pool.submit(job, olds[c], news[c], opts + files, data, k % 2 == 1)))
            same, told, tnew, ratios, diffs, slow = 0, 0.0, 0.0, [], [], []
            for (a, b), args, fut in futures:
                (so, ro, co), (sn, rn, cn) = fut.result()
                if so == sn and ro == rn:
                    same += 1
                else:
                    diffs.append(f"{a} {b}")
                told += co
                tnew += cn
                ratios.append(co / max(cn, 1e-6))
                slow.append((ratios[-1], f"{a} {b}", f"({co * 1000:.1f} -> {cn * 1000:.1f} ms)", args))
            label = " ".join(opts) or "(none)"
            print(f"{label:22s} identical {same:5d}/{len(pairs)}  CPU old {told:8.2f} s"
                  f"  new {tnew:8.2f} s  ratio {told / max(tnew, 1e-9):6.2f}"
                  f"  median pair ratio {statistics.median(ratios):6.2f}"
                  f"  lowest {min(ratios):5.2f}", flush=True)
            slow.sort(key=lambda x: x[0])
            print("    lowest ratios: " + ", ".join(f"{r:.2f} {p} {t}" for r, p, t, _ in slow[:3]))
            if opt.retime > 0:
                again = []
                for _, pair, _, args in slow[:3]:
                    times = ([], [])
                    for k in range(opt.retime):
                        old, new = olds[k % len(olds)], news[k % len(news)]
                        for binary, slot in ((old, 0), (new, 1)) if k % 2 == 0 else ((new, 1), (old, 0)):
                            times[slot].append(run(binary, args, data)[2])
                    mo, mn = statistics.median(times[0]), statistics.median(times[1])
                    again.append(f"{mo / max(mn, 1e-6):.2f} {pair} ({mo * 1000:.1f} -> {mn * 1000:.1f} ms)")
                print(f"    re-timed ({opt.retime} runs each): " + ", ".join(again), flush=True)
            for d in diffs[:10]:
                print(f"    differs: {label} {d}")
            failed = failed or bool(diffs)
    if failed:
        print("FAIL: reports differ")
        return 1
    print("OK: every report identical")
    return 0


if __name__ == "__main__":
    sys.exit(main())
