#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# The main job on a bundled example: builds nubo and make_old_nab alone (the
# preset "example": no window, tests or benches), makes a small
# archive of old compressed files (coder versions 20 and 21, in a tree of
# directories) from a few seconds of audio synthesised with sox
# (scripts/make-example.sh), upgrades the whole tree to version 22 with
# `nubo upgrade -r`, and checks every upgraded file against its source audio
# with `nubo verify` and `nubo decode`. Installs only the Debian packages
# that this needs (scripts/deps.sh example); scripts/test.sh installs the rest.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh example
echo "== building nubo and make_old_nab (build/example)"
log=build/example-build.log
mkdir -p build
if ! { cmake --preset example && cmake --build --preset example -j "$(nproc)" --target nubo make_old_nab nubo_definition_files; } >"$log" 2>&1; then
  cat "$log" >&2
  exit 1
fi

bin=build/example/bin
ex=build/example/example
scripts/make-example.sh "$bin" "$ex"

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
