#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# Whole-process timings of the ways in and out:
#   nubo decode -o x.flac --flac-level 0   vs  flac -0 of the same audio as a WAVE file
#   nubo decode to a pipe                  vs  nubo decode to a file
#   nubo encode from a pipe                vs  nubo encode from a file
# Usage: bench/pipes_and_flac.sh [BIN_DIR] [FILE.wav]; RUNS (default 11)
# runs of each, alternately; the figures are medians.
set -euo pipefail
cd "$(dirname "$0")/.."
bin=${1:-build/release/bin}
wav=${2:-}
runs=${RUNS:-11}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for tool in flac sox; do
  command -v "$tool" >/dev/null || { echo "needs $tool (apt-get install $tool)" >&2; exit 1; }
done
if [[ -z "$wav" ]]; then
  # Ten minutes (a minute of music-like stereo, ten times): long enough that
  # starting the processes (and the cat of a pipe) is not what is measured.
  wav=$work/music.wav
  sox -R -D -n -r 44100 -b 16 -c 2 "$work/minute.wav" synth 60 pinknoise sine 220 sine 331 sine 440-880 \
    remix 1,2 3,4 tremolo 3 40 lowpass 9000 gain -6 2>/dev/null
  sox "$work/minute.wav" "$wav" repeat 9
fi
"$bin/nubo" -q encode -f "$wav" -o "$work/in.NAB"

elapsed() {  # CMD... (one word: a shell line)
  local start end
  start=$(date +%s%N)
  bash -c "$1" >/dev/null 2>&1
  end=$(date +%s%N)
  echo $((end - start))
}
median() { sort -n | awk '{ v[NR] = $1 } END { printf "%.4f", v[int((NR + 1) / 2)] / 1e9 }'; }
pair() {  # NAME A B: prints both medians and B/A
  local a=() b=()
  for ((i = 0; i < runs; ++i)); do
    a+=("$(elapsed "$2")")
    b+=("$(elapsed "$3")")
  done
  local ma mb
  ma=$(printf '%s\n' "${a[@]}" | median)
  mb=$(printf '%s\n' "${b[@]}" | median)
  printf '%-22s %8.4f s  %8.4f s   ratio %5.2f\n' "$1" "$ma" "$mb" "$(awk -v a="$ma" -v b="$mb" 'BEGIN { print b / a }')"
}
n=$bin/nubo
w=$work
echo "input: $wav ($(stat -c %s "$wav") bytes); columns: reference, nubo"
pair "flac -0 / decode->flac" "flac -s -0 -f -o $w/a.flac $wav" "$n -q decode -f $w/in.NAB -o $w/b.flac --flac-level 0"
pair "decode file / pipe" "$n -q decode -f $w/in.NAB -o $w/d.wav" "$n -q decode $w/in.NAB -o - | cat >/dev/null"
pair "encode file / pipe" "$n -q encode -f $wav -o $w/e.NAB" "cat $wav | $n -q encode -f - -o $w/e2.NAB"
