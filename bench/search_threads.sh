#!/usr/bin/env bash
# Search benchmark: every bundled interface against every one twice over
# (32 x 64 = 2048 comparisons), with one thread and with two, interleaved and
# repeated; prints wall time per comparison, the speed-up of two threads and
# the peak memory, and checks that both tables are identical.
# Usage: bench/search_threads.sh [path/to/Tarvix] [repeats]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
bin=$(realpath "${1:-$here/../build/Tarvix}")
repeats=${2:-3}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
ls "$here/../tests/data/"*_AB.pdb > "$work/queries"
cat "$work/queries" "$work/queries" > "$work/targets"
python3 - "$bin" "$repeats" "$work" <<'PY'
import os, statistics, subprocess, sys, time
binary, repeats, work = sys.argv[1], int(sys.argv[2]), sys.argv[3]
n = sum(1 for _ in open(f"{work}/queries")) * sum(1 for _ in open(f"{work}/targets"))
walls = {1: [], 2: []}
peak = {1: 0, 2: 0}
for r in range(repeats):
    for t in ((1, 2) if r % 2 == 0 else (2, 1)):
        args = ["/usr/bin/time", "-f", "%M", binary, "--search", f"{work}/queries", "--targets",
                f"{work}/targets", "--threads", str(t), "--quiet", "--out", f"{work}/table{t}.tsv"]
        start = time.perf_counter()
        p = subprocess.run(args, stderr=subprocess.PIPE, text=True)
        walls[t].append(time.perf_counter() - start)
        if p.returncode != 0:
            sys.exit(f"failed: {' '.join(args)}\n{p.stderr}")
        peak[t] = max(peak[t], int(p.stderr.split()[-1]))
if open(f"{work}/table1.tsv").read() != open(f"{work}/table2.tsv").read():
    sys.exit("the tables of one and two threads differ")
one, two = statistics.median(walls[1]), statistics.median(walls[2])
print(f"search, {n} comparisons (median of {repeats} runs, wall time):")
print(f"  1 thread : {one:7.2f} s  {1000 * one / n:6.2f} ms per comparison  peak {peak[1] / 1024:.1f} MiB")
print(f"  2 threads: {two:7.2f} s  {1000 * two / n:6.2f} ms per comparison  peak {peak[2] / 1024:.1f} MiB")
print(f"  speed-up of 2 threads: {one / two:.2f}x; tables identical")
PY
