#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# Whole-process timings of `nubo upgrade` over a tree of old files with one
# job at a time against several at once.
#   bench/parallel_upgrade.sh [BIN_DIR] [JOBS]
# BIN_DIR defaults to build/release/bin, JOBS to the number of online
# processors. The tree holds FILES (default 8) version-20 files of MINUTES
# (default 5) minutes of CD-quality stereo each, made with sox and
# make_old_nab and read once before the timings, so that they come from the
# page cache. Each setting runs RUNS times (default 5), alternately; the
# figures are the medians.
set -euo pipefail
cd "$(dirname "$0")/.."
bin=${1:-build/release/bin}
jobs=${2:-$(nproc)}
files=${FILES:-8}
minutes=${MINUTES:-5}
runs=${RUNS:-5}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
command -v sox >/dev/null || { echo "needs sox (apt-get install sox)" >&2; exit 1; }

mkdir -p "$work/tree/a" "$work/tree/b"
for ((i = 0; i < files; ++i)); do
  sox -R -D -n -r 44100 -b 16 -c 2 "$work/src.wav" synth $((minutes * 60)) pinknoise sine $((200 + 37 * i)) \
    remix 1,2 2,1 lowpass 9000 gain -6 2>/dev/null
  "$bin/make_old_nab" "$work/src.wav" "$work/tree/$([[ $((i % 2)) == 0 ]] && echo a || echo b)/TAKE$i.NAB" 20
done
rm -f "$work/src.wav"
cat "$work"/tree/*/*.NAB >/dev/null  # into the page cache

elapsed() {
  local start end
  rm -rf "$work/out"
  start=$(date +%s%N)
  "$@" >/dev/null
  end=$(date +%s%N)
  echo $((end - start))
}
median() { sort -n | awk '{ v[NR] = $1 } END { printf "%.3f", v[int((NR + 1) / 2)] / 1e9 }'; }

t1=() tn=()
for ((r = 0; r < runs; ++r)); do
  t1+=("$(elapsed "$bin/nubo" -q upgrade -r -j 1 "$work/tree" -o "$work/out/")")
  tn+=("$(elapsed "$bin/nubo" -q upgrade -r -j "$jobs" "$work/tree" -o "$work/out/")")
done
m1=$(printf '%s\n' "${t1[@]}" | median)
mn=$(printf '%s\n' "${tn[@]}" | median)
echo "tree: $files version-20 files of $minutes min CD stereo ($(du -sh "$work/tree" | cut -f1)), $(nproc) processors"
printf 'upgrade -j 1 %7.3f s   -j %d %7.3f s   ratio %5.2fx\n' "$m1" "$jobs" "$mn" "$(awk -v a="$m1" -v b="$mn" 'BEGIN { print a / b }')"
