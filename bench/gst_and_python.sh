#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# Whole-process timings of the GStreamer plug-in and the Python module
# against nubo on the same 10-minute stereo .NAB file:
#   gst-launch-1.0 filesrc ! decodebin ! fakesink   vs  nubo decode -o /dev/null   (target: at most 2x)
#   python3 -c 'nubo.read(...)'                     vs  nubo decode -o /dev/null   (target: at most 1.5x)
# and the call nubo.read alone (in the interpreter, after NumPy's import), on
# as many threads as it takes by default and on one thread (nubo decode
# decodes a file on one thread).
# Usage: bench/gst_and_python.sh [BUILD_DIR] [FILE.NAB]
# BUILD_DIR defaults to build/release (bin/, gst/ and python/ in it);
# without a .NAB file 10 minutes of CD-quality stereo are made with sox and
# encoded by nubo.
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(cd "${1:-build/release}" && pwd)
nab=${2:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export GST_PLUGIN_PATH=$build/gst GST_REGISTRY=$work/registry.bin PYTHONPATH=$build/python
python=${PYTHON:-/usr/bin/python3}

for tool in sox gst-launch-1.0; do
  command -v "$tool" >/dev/null || { echo "needs $tool" >&2; exit 1; }
done
if [[ -z "$nab" ]]; then
  sox -R -D -n -r 44100 -b 16 -c 2 "$work/music.wav" synth 600 pinknoise sine 220 sine 331 sine 440-880 \
    remix 1,2 3,4 tremolo 3 40 lowpass 9000 gain -6 2>/dev/null
  "$build/bin/nubo" --quiet encode "$work/music.wav" -o "$work/music.NAB"
  rm "$work/music.wav"
  nab=$work/music.NAB
fi
gst-inspect-1.0 nubodec >/dev/null  # builds the registry outside the timings

# The three run alternately RUNS times (default 7), so a slow spell of the
# machine falls on all of them; each figure is a median.
runs=${RUNS:-7}
elapsed() {
  local start end
  start=$(date +%s%N)
  "$@" >/dev/null 2>&1 || { echo "failed: $*" >&2; exit 1; }
  end=$(date +%s%N)
  echo $((end - start))
}
median() { sort -n | awk '{ v[NR] = $1 } END { printf "%.4f", v[int((NR + 1) / 2)] / 1e9 }'; }

tn=() tg=() tp=() ti=() t1=()
for ((i = 0; i < runs; ++i)); do
  tn+=("$(elapsed "$build/bin/nubo" --quiet decode "$nab" -o /dev/null)")
  tg+=("$(elapsed gst-launch-1.0 -q filesrc location="$nab" ! decodebin ! fakesink)")
  tp+=("$(elapsed "$python" -c "import sys, nubo; nubo.read(sys.argv[1])" "$nab")")
  # The call alone, without the interpreter's and NumPy's start (nubo
  # imports NumPy on its first read, while the blocks decode: here it is
  # imported before).
  ti+=("$("$python" -c "import sys, time, numpy, nubo; t = time.perf_counter_ns(); nubo.read(sys.argv[1]); print(time.perf_counter_ns() - t)" "$nab")")
  t1+=("$("$python" -c "import sys, time, numpy, nubo; t = time.perf_counter_ns(); nubo.read(sys.argv[1], threads=1); print(time.perf_counter_ns() - t)" "$nab")")
done
n=$(printf '%s\n' "${tn[@]}" | median)
g=$(printf '%s\n' "${tg[@]}" | median)
p=$(printf '%s\n' "${tp[@]}" | median)
c=$(printf '%s\n' "${ti[@]}" | median)
c1=$(printf '%s\n' "${t1[@]}" | median)
echo "file: $nab ($(stat -c %s "$nab") bytes), $runs runs each, medians; $(nproc) processors, load $(cut -d' ' -f1-3 /proc/loadavg):"
printf '  nubo decode -o /dev/null       %8.3f s\n' "$n"
printf '  gst-launch-1.0 ... ! fakesink  %8.3f s  %.2fx (target <= 2)\n' "$g" "$(echo "$g / $n" | bc -l)"
printf '  python3 nubo.read              %8.3f s  %.2fx (target <= 1.5)\n' "$p" "$(echo "$p / $n" | bc -l)"
printf '    of which the call nubo.read  %8.3f s  %.2fx\n' "$c" "$(echo "$c / $n" | bc -l)"
printf '  the call on one thread         %8.3f s  %.2fx\n' "$c1" "$(echo "$c1 / $n" | bc -l)"
