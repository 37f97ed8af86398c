#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# Sizes and whole-process times of the searching encoder on real recordings:
#   nubo encode          the reference version-22 encoder
#   nubo encode --best   the searching encoder
#   flac -5, flac -8     FLAC's own tool on the same WAVE files
# per file of the corpus (bench/make_corpus.sh) and in total, then the four
# on the corpus's 10-minute stereo file (one job each), and finally
# `nubo upgrade` and `nubo upgrade --best` of version-20 and version-21 files
# made from the corpus: the largest growth over the input, in bytes a block.
# Every output is checked: `nubo verify` against its WAVE file, `flac -t`.
#
# Usage: bench/search_vs_flac.sh [BIN_DIR] [CORPUS_DIR]
# BIN_DIR defaults to build/release/bin, CORPUS_DIR to build/corpus (made
# by bench/make_corpus.sh when missing). RUNS (default 3) runs of each
# command, alternating between the four, the median counted.
set -euo pipefail
cd "$(dirname "$0")/.."
bin=$(cd "${1:-build/release/bin}" && pwd)
corpus=${2:-build/corpus}
runs=${RUNS:-3}
for tool in flac sox; do
  command -v "$tool" >/dev/null || { echo "needs $tool (apt-get install $tool)" >&2; exit 1; }
done
[ -x "$bin/nubo" ] || { echo "no $bin/nubo: build first" >&2; exit 1; }
[ -x "$bin/make_old_nab" ] || { echo "no $bin/make_old_nab: build the tests" >&2; exit 1; }
if ! ls "$corpus"/*.wav >/dev/null 2>&1; then
  bench/make_corpus.sh "$corpus"
fi
corpus=$(cd "$corpus" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# seconds CMD...: wall time of one run of CMD, in seconds (nanosecond clock).
seconds() {
  local start end
  start=$(date +%s%N)
  "$@" >/dev/null 2>&1 || { echo "failed: $*" >&2; exit 1; }
  end=$(date +%s%N)
  awk -v t=$((end - start)) 'BEGIN { printf "%.4f", t / 1e9 }'
}
median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
size() { stat -c %s "$1"; }

# The four commands on one WAVE file, each writing $work/out.<kind>.
run_kind() {
  local kind=$1 wav=$2
  case $kind in
    ref) rm -f "$work/out.ref"; seconds "$bin/nubo" -q encode -j 1 -o "$work/out.ref" "$wav" ;;
    best) rm -f "$work/out.best"; seconds "$bin/nubo" -q encode -j 1 --best -o "$work/out.best" "$wav" ;;
    flac5) seconds flac -5 -s -f -o "$work/out.flac5" "$wav" ;;
    flac8) seconds flac -8 -s -f -o "$work/out.flac8" "$wav" ;;
  esac
}
kinds=(ref best flac5 flac8)

# measure WAV: prints the four sizes and the four median times.
measure() {
  local wav=$1 kind r
  declare -A times=()
  for ((r = 0; r < runs; r++)); do
    for kind in "${kinds[@]}"; do times[$kind]+="$(run_kind "$kind" "$wav") "; done
  done
  "$bin/nubo" -q verify "$work/out.ref" "$wav" >/dev/null || { echo "verify failed: $wav (reference)" >&2; exit 1; }
  "$bin/nubo" -q verify "$work/out.best" "$wav" >/dev/null || { echo "verify failed: $wav (--best)" >&2; exit 1; }
  "$bin/nubo" -q test "$work/out.best" >/dev/null || { echo "test failed: $wav (--best)" >&2; exit 1; }
  flac -s -t "$work/out.flac5" "$work/out.flac8"
  local out=()
  for kind in "${kinds[@]}"; do out+=("$(size "$work/out.$kind")"); done
  for kind in "${kinds[@]}"; do out+=("$(tr ' ' '\n' <<<"${times[$kind]}" | grep . | median)"); done
  echo "${out[*]}"
}

echo "Corpus $corpus, $runs runs a command, medians; sizes in bytes, times in seconds (whole process)"
printf '%-24s %3s %6s %10s %10s %7s %7s %10s %10s %7s %7s %7s %7s\n' file ch rate reference best \
  best% worse flac-5 flac-8 t-ref t-best t-fl5 t-fl8
total=(0 0 0 0 0 0 0 0)
larger=0
for wav in "$corpus"/*.wav; do
  name=$(basename "$wav" .wav)
  [[ $name == long-* ]] && continue
  read -r -a m <<<"$(measure "$wav")"
  for i in 0 1 2 3 4 5 6 7; do total[i]=$(awk -v a="${total[i]}" -v b="${m[i]}" 'BEGIN { print a + b }'); done
  worse=no
  ((m[1] > m[0])) && { worse=YES; larger=$((larger + 1)); }
  printf '%-24s %3s %6s %10s %10s %7.2f %7s %10s %10s %7s %7s %7s %7s\n' "$name" "$(soxi -c "$wav")" \
    "$(soxi -r "$wav")" "${m[0]}" "${m[1]}" "$(awk -v a="${m[0]}" -v b="${m[1]}" 'BEGIN { print 100 * (b - a) / a }')" \
    "$worse" "${m[2]}" "${m[3]}" "${m[4]}" "${m[5]}" "${m[6]}" "${m[7]}"
done
printf '%-24s %3s %6s %10s %10s %7.2f %7s %10s %10s %7.3f %7.3f %7.3f %7.3f\n' TOTAL "" "" "${total[0]}" "${total[1]}" \
  "$(awk -v a="${total[0]}" -v b="${total[1]}" 'BEGIN { print 100 * (b - a) / a }')" "$larger" "${total[2]}" \
  "${total[3]}" "${total[4]}" "${total[5]}" "${total[6]}" "${total[7]}"
awk -v r="${total[1]}" -v f5="${total[2]}" -v f8="${total[3]}" \
  'BEGIN { printf "--best against flac -5: %+.2f %%, against flac -8: %+.2f %%\n", 100 * (r - f5) / f5, 100 * (r - f8) / f8 }'

long=$corpus/long-stereo-10min.wav
if [ -f "$long" ]; then
  echo
  echo "10-minute stereo file (one job each, $runs runs, medians):"
  read -r -a m <<<"$(measure "$long")"
  printf '  %-22s %10s bytes %8s s\n' "nubo encode" "${m[0]}" "${m[4]}" "nubo encode --best" "${m[1]}" "${m[5]}" \
    "flac -5" "${m[2]}" "${m[6]}" "flac -8" "${m[3]}" "${m[7]}"
  awk -v b="${m[5]}" -v f="${m[6]}" 'BEGIN { printf "  --best takes %.2f times the time of flac -5\n", b / f }'
fi

echo
echo "Upgrades of version-20 and version-21 files made from the corpus: growth over the input"
printf '%-24s %7s %8s %12s %12s %12s %12s\n' file version blocks input upgrade upgrade-best 'max+/block'
worst=-1000000
for wav in "$corpus"/*.wav; do
  name=$(basename "$wav" .wav)
  [[ $name == long-* ]] && continue
  for version in 20 21; do
    "$bin/make_old_nab" "$wav" "$work/old.NAB" "$version" >/dev/null
    rm -f "$work/new.NAB" "$work/newbest.NAB"
    "$bin/nubo" -q upgrade -j 1 -o "$work/new.NAB" "$work/old.NAB"
    "$bin/nubo" -q upgrade -j 1 --best -o "$work/newbest.NAB" "$work/old.NAB"
    "$bin/nubo" -q verify "$work/newbest.NAB" "$wav" >/dev/null || { echo "verify failed: upgrade --best of $name" >&2; exit 1; }
    blocks=$("$bin/nubo" info "$work/old.NAB" | awk '/^blocks/ { print $2 }')
    in=$(size "$work/old.NAB") plain=$(size "$work/new.NAB") best=$(size "$work/newbest.NAB")
    per=$(awk -v a="$in" -v b="$best" -v n="$blocks" 'BEGIN { printf "%.3f", (b - a) / n }')
    worst=$(awk -v a="$worst" -v b="$per" 'BEGIN { print (b > a) ? b : a }')
    printf '%-24s %7s %8s %12s %12s %12s %12s\n' "$name" "$version" "$blocks" "$in" "$plain" "$best" "$per"
  done
done
echo "largest growth of upgrade --best over its input: $worst bytes a block"
