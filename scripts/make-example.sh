#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# Makes the bundled example: a few seconds of audio synthesised with sox (the
# "recordings", in OUT_DIR/source) and a small archive of old compressed files
# made from them by the test tool make_old_nab (coder versions 20 and 21, in a
# tree of directories under OUT_DIR/archive). Repeatable: the same files every
# time. Usage: scripts/make-example.sh BIN_DIR OUT_DIR   (BIN_DIR holds make_old_nab)
set -euo pipefail
bin=$1
ex=$2
rm -rf "$ex"
mkdir -p "$ex/source" "$ex/archive/2019" "$ex/archive/2021/live"

# The "recordings": repeatable (-R, no dither -D) synthetic audio.
sox -R -D -n -r 44100 -b 16 -c 2 "$ex/source/chord.wav" synth 3 pluck C3 pluck E3 pluck G3 pluck C4 \
  remix 1,2 3,4 fade 0 3 0.5 gain -3
sox -R -D -n -r 44100 -b 16 -c 2 "$ex/source/pad.wav" synth 2.5 sine 220-440 sine 330 brownnoise mix gain -8
sox -R -D -n -r 22050 -b 16 -c 1 "$ex/source/voice.wav" synth 1.7 square 110 gain -12 lowpass 1200 tremolo 5 60

# The archive as an old recorder would have left it.
"$bin/make_old_nab" "$ex/source/chord.wav" "$ex/archive/2019/CHORD.NAB" 20
"$bin/make_old_nab" "$ex/source/pad.wav" "$ex/archive/2021/PAD.NAB" 21
"$bin/make_old_nab" "$ex/source/voice.wav" "$ex/archive/2021/live/VOICE.NAB" 21
