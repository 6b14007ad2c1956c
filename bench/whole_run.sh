#!/usr/bin/env bash
# Whole-run benchmark: compares every bundled interface with the next one
# (sequential and non-sequential), several times each, and prints the median
# CPU time (user + system) per comparison, the slowest pair and the largest
# peak memory of any run.
# Usage: bench/whole_run.sh [path/to/Tarvix] [repeats]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
bin=$(realpath "${1:-$here/../build/Tarvix}")
repeats=${2:-3}
cd "$here/../tests/data"
mapfile -t names < <(ls ./*_AB.pdb | sed 's|^\./||; s|_AB\.pdb$||' | sort)
python3 - "$bin" "$repeats" "${names[@]}" <<'PY'
import os, statistics, subprocess, sys
binary, repeats, names = sys.argv[1], int(sys.argv[2]), sys.argv[3:]
for label, opts in (("sequential", []), ("non-sequential", ["-s"])):
    times, peak = [], 0
    for k, a in enumerate(names):
        b = names[(k + 1) % len(names)]
        args = [binary, *opts, "-v", "0", f"{a}_AB.pdb", f"{b}_AB.pdb",
                f"{a}_AB.contacts", f"{b}_AB.contacts"]
        runs = []
        for _ in range(repeats):
            p = subprocess.Popen(args, stdout=subprocess.DEVNULL)
            _, status, ru = os.wait4(p.pid, 0)
            if os.waitstatus_to_exitcode(status) != 0:
                sys.exit(f"failed: {' '.join(args)}")
            runs.append(ru.ru_utime + ru.ru_stime)
        # Peak memory from one more run under /usr/bin/time: a process started
        # from this interpreter inherits its peak (the kernel keeps it across
        # exec), and time's own figures are too coarse for the CPU time.
        r = subprocess.run(["/usr/bin/time", "-f", "%M", *args], stdout=subprocess.DEVNULL,
                           stderr=subprocess.PIPE, text=True)
        peak = max(peak, int(r.stderr.split()[-1]))
        times.append(statistics.median(runs))
    print(f"{label:15s} {len(times)} pairs: median {statistics.median(times) * 1000:.1f} ms CPU"
          f" per comparison, slowest {max(times) * 1000:.1f} ms, peak memory {peak / 1024:.1f} MiB")
PY
