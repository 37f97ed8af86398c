#!/usr/bin/env bash
# The main job on a bundled example: builds the release preset, makes a small
# archive of old compressed files (coder versions 20 and 21, in a tree of
# directories) from a few seconds of audio synthesised with sox, upgrades the
# whole tree to version 22 with `nubo upgrade -r`, and checks every upgraded
# file against its source audio with `nubo verify` and `nubo decode`.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)"

bin=build/release/bin
ex=build/release/example
rm -rf "$ex"
mkdir -p "$ex/source" "$ex/archive/2019" "$ex/archive/2021/live"

# The "recordings": repeatable (-R, no dither -D) synthetic audio.
sox -R -D -n -r 44100 -b 16 -c 2 "$ex/source/chord.wav" synth 3 pluck C3 pluck E3 pluck G3 pluck C4 \
  remix 1,2 3,4 fade 0 3 0.5 gain -3
sox -R -D -n -r 44100 -b 16 -c 2 "$ex/source/pad.wav" synth 2.5 sine 220-440 sine 330 brownnoise mix gain -8
sox -R -D -n -r 22050 -b 16 -c 1 "$ex/source/voice.wav" synth 1.7 square 110 lowpass 1200 tremolo 5 60 gain -12

# The archive as an old recorder would have left it.
"$bin/make_old_nab" "$ex/source/chord.wav" "$ex/archive/2019/CHORD.NAB" 20
"$bin/make_old_nab" "$ex/source/pad.wav" "$ex/archive/2021/PAD.NAB" 21
"$bin/make_old_nab" "$ex/source/voice.wav" "$ex/archive/2021/live/VOICE.NAB" 21

echo
echo "== nubo upgrade -r $ex/archive/ -o $ex/upgraded/"
"$bin/nubo" upgrade -r "$ex/archive/" -o "$ex/upgraded/"

echo
echo "== nubo info (before and after)"
"$bin/nubo" info "$ex/archive/2019/CHORD.NAB" | grep -E 'coder version|file size'
"$bin/nubo" info "$ex/upgraded/2019/CHORD.NAB" | grep -E 'coder version|file size'

echo
echo "== checking every upgraded file against its source"
check() {
  local nab=$1 wav=$2
  "$bin/nubo" --quiet verify "$nab" "$wav"
  "$bin/nubo" --quiet decode --overwrite "$nab" -o "$ex/decoded.wav"
  cmp <(sox "$wav" -t raw -) <(sox "$ex/decoded.wav" -t raw -)
  echo "ok  $nab  decodes to exactly the audio of $wav"
}
check "$ex/upgraded/2019/CHORD.NAB" "$ex/source/chord.wav"
check "$ex/upgraded/2021/PAD.NAB" "$ex/source/pad.wav"
check "$ex/upgraded/2021/live/VOICE.NAB" "$ex/source/voice.wav"
