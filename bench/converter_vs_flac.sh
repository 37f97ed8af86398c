#!/usr/bin/env bash
# Whole-process timings of nubo against FLAC's own tool doing the same work:
#   nubo encode            vs  flac -0 --no-md5-sum          (WAVE -> compressed)
#   nubo decode            vs  flac -d --no-md5-sum          (compressed -> WAVE)
#   nubo upgrade (v20 file) vs  flac -0 --no-md5-sum x.flac   (re-encode a compressed file)
# Usage: bench/converter_vs_flac.sh [BIN_DIR] [FILE.wav]
# BIN_DIR defaults to build/release/bin; without a WAVE file a 60-second
# CD-quality stereo signal is made with sox. Each figure is the median of 5 runs.
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

# median_time CMD...: runs CMD 5 times, prints the median wall time in seconds.
median_time() {
  local times=()
  for _ in 1 2 3 4 5; do
    local start end
    start=$(date +%s.%N)
    "$@" >/dev/null 2>&1
    end=$(date +%s.%N)
    times+=("$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.4f", b - a }')")
  done
  printf '%s\n' "${times[@]}" | sort -g | sed -n 3p
}

pair() {
  local name=$1 nubo_cmd=$2 flac_cmd=$3
  local tn tf
  tn=$(median_time bash -c "$nubo_cmd")
  tf=$(median_time bash -c "$flac_cmd")
  printf '%-8s nubo %7.3f s   flac %7.3f s   flac/nubo %5.2fx\n' "$name" "$tn" "$tf" "$(awk -v a="$tf" -v b="$tn" 'BEGIN { print a / b }')"
}

cp "$wav" "$work/in.wav"
"$bin/nubo" --quiet encode --overwrite "$work/in.wav" "$work/in.NAB"
flac -s -0 --no-md5-sum -f -o "$work/in.flac" "$work/in.wav"
"$bin/make_old_nab" "$work/in.wav" "$work/old.NAB" 20
mkdir -p "$work/up"

echo "input: $desc ($(stat -c %s "$work/in.wav") bytes)"
pair encode "'$bin/nubo' --quiet encode --overwrite '$work/in.wav' '$work/out.NAB'" \
  "flac -s -0 --no-md5-sum -f -o '$work/out.flac' '$work/in.wav'"
pair decode "'$bin/nubo' --quiet decode --overwrite '$work/in.NAB' '$work/dec.wav'" \
  "flac -s -d --no-md5-sum -f -o '$work/dec2.wav' '$work/in.flac'"
pair upgrade "'$bin/nubo' --quiet upgrade --overwrite '$work/old.NAB' '$work/up/'" \
  "flac -s -0 --no-md5-sum -f -o '$work/re.flac' '$work/in.flac'"
echo "sizes: wav $(stat -c %s "$work/in.wav")  nab(v22) $(stat -c %s "$work/in.NAB")  flac -0 $(stat -c %s "$work/in.flac")"
