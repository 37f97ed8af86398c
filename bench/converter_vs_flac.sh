#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# Whole-process timings of nubo against FLAC's own tool doing the same work:
#   nubo encode            vs  flac -0 --no-md5-sum          (WAVE -> compressed)
#   nubo decode            vs  flac -d --no-md5-sum          (compressed -> WAVE)
#   nubo upgrade (v20 file) vs  flac -0 --no-md5-sum x.flac   (re-encode a compressed file)
# Usage: bench/converter_vs_flac.sh [BIN_DIR] [FILE.wav]
# BIN_DIR defaults to build/release/bin; without a WAVE file a 60-second
# CD-quality stereo signal is made with sox.
set -euo pipefail
cd "$(dirname "$0")/.."
bin=${1:-build/release/bin}
wav=${2:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

for tool in flac sox; do
  command -v "$tool" >/dev/null || { echo "needs $tool (apt-get install $tool)" >&2; exit 1; }
done
if [[ -z "$wav" ]]; then
  wav=$work/music.wav
  sox -R -D -n -r 44100 -b 16 -c 2 "$wav" synth 60 pinknoise sine 220 sine 331 sine 440-880 \
    remix 1,2 3,4 tremolo 3 40 lowpass 9000 gain -6 2>/dev/null
  desc="60 s synthetic CD-quality stereo (sox pink noise and tones)"
else
  desc=$wav
fi

# Each pair runs alternately, nubo then flac, RUNS times (default 15), so a
# slow spell of the machine falls on both; the figure is each side's median.
runs=${RUNS:-15}

# elapsed CMD...: runs CMD once (no shell in between), prints its wall time in seconds.
elapsed() {
  local start end
  start=$(date +%s%N)
  "$@" >/dev/null 2>&1
  end=$(date +%s%N)
  echo $(( end - start ))
}

median() { sort -n | awk '{ v[NR] = $1 } END { printf "%.4f", v[int((NR + 1) / 2)] / 1e9 }'; }

# pair NAME N_ARGS NUBO_ARGS... FLAC_ARGS...: N_ARGS words belong to nubo's command.
pair() {
  local name=$1 n=$2
  shift 2
  local nubo_cmd=("${@:1:n}") flac_cmd=("${@:n+1}")
  local tn=() tf=()
  for ((i = 0; i < runs; ++i)); do
    tn+=("$(elapsed "${nubo_cmd[@]}")")
    tf+=("$(elapsed "${flac_cmd[@]}")")
  done
  local mn mf
  mn=$(printf '%s\n' "${tn[@]}" | median)
  mf=$(printf '%s\n' "${tf[@]}" | median)
  printf '%-8s nubo %7.3f s   flac %7.3f s   flac/nubo %5.2fx\n' "$name" "$mn" "$mf" "$(awk -v a="$mf" -v b="$mn" 'BEGIN { print a / b }')"
}

cp "$wav" "$work/in.wav"
"$bin/nubo" --quiet encode --overwrite "$work/in.wav" -o "$work/in.NAB"
flac -s -0 --no-md5-sum -f -o "$work/in.flac" "$work/in.wav"
"$bin/make_old_nab" "$work/in.wav" "$work/old.NAB" 20
mkdir -p "$work/up"

echo "input: $desc ($(stat -c %s "$work/in.wav") bytes)"
pair encode 7 "$bin/nubo" --quiet encode --overwrite "$work/in.wav" -o "$work/out.NAB" \
  flac -s -0 --no-md5-sum -f -o "$work/out.flac" "$work/in.wav"
pair decode 7 "$bin/nubo" --quiet decode --overwrite "$work/in.NAB" -o "$work/dec.wav" \
  flac -s -d --no-md5-sum -f -o "$work/dec2.wav" "$work/in.flac"
pair upgrade 7 "$bin/nubo" --quiet upgrade --overwrite "$work/old.NAB" -o "$work/up/" \
  flac -s -0 --no-md5-sum -f -o "$work/re.flac" "$work/in.flac"
echo "sizes: wav $(stat -c %s "$work/in.wav")  nab(v22) $(stat -c %s "$work/in.NAB")  flac -0 $(stat -c %s "$work/in.flac")"
