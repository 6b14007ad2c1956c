#!/usr/bin/env bash
# Whole-run benchmark: compares every bundled interface with the next one
# (sequential and non-sequential), several times each, and prints the median
# wall time per comparison and the largest peak memory of any run.
# Usage: bench/whole_run.sh [path/to/Tarvix] [repeats]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
bin=$(realpath "${1:-$here/../build/Tarvix}")
repeats=${2:-3}
cd "$here/../tests/data"
mapfile -t names < <(ls ./*_AB.pdb | sed 's|^\./||; s|_AB\.pdb$||' | sort)
python3 - "$bin" "$repeats" "${names[@]}" <<'PY'
import resource, statistics, subprocess, sys, time
binary, repeats, names = sys.argv[1], int(sys.argv[2]), sys.argv[3:]
for label, opts in (("sequential", []), ("non-sequential", ["-s"])):
    times = []
    for k, a in enumerate(names):
        b = names[(k + 1) % len(names)]
        args = [binary, *opts, "-v", "0", f"{a}_AB.pdb", f"{b}_AB.pdb",
                f"{a}_AB.contacts", f"{b}_AB.contacts"]
        best = []
        for _ in range(repeats):
            t0 = time.perf_counter()
            subprocess.run(args, check=True, stdout=subprocess.DEVNULL)
            best.append(time.perf_counter() - t0)
        times.append(statistics.median(best))
    peak = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss / 1024.0
    print(f"{label:15s} {len(times)} pairs: median {statistics.median(times) * 1000:.1f} ms"
          f" per comparison, slowest {max(times) * 1000:.1f} ms, peak memory {peak:.1f} MiB")
PY
