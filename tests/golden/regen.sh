#!/usr/bin/env bash
# Rewrites the stored reports from the given Tarvix binary (default: build/Tarvix).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
bin=$(realpath "${1:-$here/../../build/Tarvix}")
cd "$here/../data"
grep -v '^#' "$here/cases.txt" | while IFS=$'\t' read -r name args; do
  [ -n "$name" ] || continue
  # shellcheck disable=SC2086
  "$bin" $args | sed 's/^Running time: .*/Running time: (masked)/' > "$here/$name.out"
done
