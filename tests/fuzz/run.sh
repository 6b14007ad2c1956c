#!/usr/bin/env bash
# Runs every fuzz harness of a fuzz build (make fuzz) for a given time, under
# AddressSanitizer and UBSan, on the seed corpus (tests/fuzz/seeds) and the
# inputs kept from earlier findings (tests/fuzz/regressions). Inputs that
# reach new code go to <build>/corpus, findings to <build>/findings/<harness>.
# Exits non-zero on any finding: a crash, a sanitizer report, a failed record
# check, an input slower than 25 seconds or more than 2 GB of memory.
#
#   tests/fuzz/run.sh BUILD_DIR [SECONDS] [HARNESS...]
set -uo pipefail
build=$(cd "${1:?usage: run.sh BUILD_DIR [SECONDS] [HARNESS...]}" && pwd)
seconds=${2:-60}
shift $(($# < 2 ? $# : 2))
harnesses=("$@")
[ ${#harnesses[@]} -gt 0 ] || harnesses=(pdb contacts cmdline)
src=$(cd "$(dirname "$0")" && pwd)
status=0
for h in "${harnesses[@]}"; do
  mkdir -p "$build/corpus/$h" "$build/findings/$h"
  dirs=("$build/corpus/$h" "$src/seeds/$h")
  [ -d "$src/regressions/$h" ] && dirs+=("$src/regressions/$h")
  log="$build/fuzz_$h.log"
  # Absolute paths throughout: the command-line harness changes directory.
  if "$build/fuzz_$h" "${dirs[@]}" -dict="$src/$h.dict" -max_total_time="$seconds" \
      -timeout=25 -rss_limit_mb=2048 -print_final_stats=1 \
      -artifact_prefix="$build/findings/$h/" >"$log" 2>&1; then
    runs=$(grep -o 'number_of_executed_units: [0-9]*' "$log" | cut -d' ' -f2)
    echo "fuzz_$h: ${runs:-?} inputs in $seconds s, no finding"
  else
    echo "fuzz_$h: FINDING, see $log and $build/findings/$h/"
    grep -E 'ERROR|SUMMARY|record check|runtime error' "$log" | head -20
    status=1
  fi
done
exit $status
