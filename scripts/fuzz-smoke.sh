#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# Runs every fuzz target found in DIR for a fixed time each; fails on a crash
# or sanitizer report. Usage: scripts/fuzz-smoke.sh DIR [SECONDS]
set -euo pipefail
dir=$1
seconds=${2:-20}
found=0
for target in "$dir"/fuzz_*; do
  [ -x "$target" ] || continue
  found=1
  name=$(basename "$target")
  corpus=$(mktemp -d)
  echo "fuzzing $name for ${seconds}s"
  "$target" -max_total_time="$seconds" -max_len=4200 -print_final_stats=0 "$corpus" 2>"$corpus.log" \
    || { tail -n 40 "$corpus.log"; exit 1; }
  tail -n 1 "$corpus.log"
  rm -rf "$corpus" "$corpus.log"
done
[ "$found" -eq 1 ] || { echo "no fuzz targets in $dir"; exit 1; }
