#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# The nubo command as a user runs it: real WAVE files made with sox, old
# compressed files made with the test tool make_old_nab, and checks of exit
# codes, stdout, stderr and the files left behind.
# Usage: nubo_cli_test.sh BIN_DIR WORK_DIR
set -uo pipefail
source "$(dirname "$0")/lib.sh" "$@"
coder_version() { od -An -tu4 -j38 -N4 "$1" | tr -d ' '; }
pcm_of() { sox "$1" -t raw -; }
same_audio() { cmp -s <(pcm_of "$1") <(pcm_of "$2") || fail "$1 and $2 differ in audio"; }

# Sources: stereo music-like, a mono voice-like signal, a length that is not a
# multiple of the 1764-sample block, and 12 s (> 2 MB of PCM) for progress.
sox -R -D -n -r 44100 -b 16 -c 2 music.wav synth 3.01 pluck C3 pluck G3 pinknoise remix 1,3 2,3 gain -9
sox -R -D -n -r 22050 -b 16 -c 1 voice.wav synth 1.5 square 110 lowpass 1500 gain -12
sox -R -D -n -r 44100 -b 16 -c 2 long.wav synth 12 sine 300 brownnoise remix 1,2 2,1 gain -10

# --- encode, decode, info -------------------------------------------------
run 0 "$nubo" encode music.wav
[[ -f music.NAB ]] || fail "encode did not write music.NAB beside the input"
[[ $(coder_version music.NAB) == 22 ]] || fail "encoded file is not coder version 22"
expect_in out.txt "% size change: "
expect_in out.txt "1 file(s) converted"
# The default output, music.wav, exists (the source): skipped, untouched.
cp music.wav music.orig
run 0 "$nubo" decode music.NAB
expect_in out.txt ": skipped (output existed)"
expect_in out.txt "music.wav"
expect_in out.txt "0 file(s) converted  1 skipped (output existed)"
cmp -s music.wav music.orig || fail "decode overwrote an existing file"
run 0 "$nubo" decode music.NAB -o back.wav
same_audio music.wav back.wav
run 0 "$nubo" decode music.NAB -o back.wav
expect_in out.txt ": skipped (output existed)"
expect_in out.txt "back.wav"
run 0 "$nubo" decode --overwrite music.NAB -o back.wav
expect_in out.txt "1 file(s) converted"
same_audio music.wav back.wav
run 0 "$nubo" info music.NAB
expect_in out.txt "coder version"
expect_in out.txt "22"
run 1 "$nubo" info music.wav
[[ -s err.txt ]] || fail "info on a WAVE file gave no message"

# --- encode --verify and verify ---------------------------------------------
run 0 "$nubo" encode --verify voice.wav -o voice22.NAB
expect_in out.txt "1 file(s) converted"
run 0 "$nubo" verify voice22.NAB voice.wav
run 1 "$nubo" verify voice22.NAB music.wav
expect_in err.txt "Verify failed"

# --- upgrade of a tree of old files -----------------------------------------
mkdir -p tree/a tree/b/deep
"$bin/make_old_nab" music.wav tree/a/MUSIC.NAB 20
"$bin/make_old_nab" voice.wav tree/b/VOICE.NAB 21
"$bin/make_old_nab" music.wav tree/b/deep/TAKE.NAB 21 --preamble 'hello'
cp music.wav tree/a/not_compressed.wav
run 0 "$nubo" upgrade -r tree -o out/
for f in a/MUSIC b/VOICE b/deep/TAKE; do
  [[ -f out/$f.NAB ]] || { fail "upgrade did not write out/$f.NAB"; continue; }
  [[ $(coder_version "out/$f.NAB") == 22 ]] || fail "out/$f.NAB is not coder version 22"
done
expect_in out.txt "3 file(s) converted"
[[ ! -e out/a/not_compressed.wav && ! -e out/a/not_compressed.NAB ]] || fail "a WAVE file was converted by upgrade"
run 0 "$nubo" verify out/a/MUSIC.NAB music.wav
run 0 "$nubo" verify out/b/VOICE.NAB voice.wav
run 0 "$nubo" verify out/b/deep/TAKE.NAB music.wav
run 0 "$nubo" decode out/b/deep/TAKE.NAB -o take.wav
same_audio music.wav take.wav
# The preamble is carried: its bytes follow the 66-byte header and its length.
[[ $(dd if=out/b/deep/TAKE.NAB bs=1 skip=68 count=5 2>/dev/null) == hello ]] || fail "preamble not carried"

# A second run skips what exists (not a failure) and never touches the inputs.
cp tree/a/MUSIC.NAB before.NAB
run 0 "$nubo" upgrade -r tree/ -o out/
expect_in out.txt ": skipped (output existed)"
[[ $(grep -c ": skipped (output existed)" out.txt) == 3 ]] || fail "expected three skipped files: $(cat out.txt)"
expect_not_in out.txt "size change"
cmp -s before.NAB tree/a/MUSIC.NAB || fail "upgrade changed its input"

# Default output: beside the input with '!' toggled into the name.
run 0 "$nubo" upgrade tree/a/MUSIC.NAB
[[ $(coder_version 'tree/a/MUSIC!.NAB') == 22 ]] || fail "default output tree/a/MUSIC!.NAB missing"
run 0 "$nubo" upgrade --overwrite tree/a/MUSIC.NAB

# --- failures -----------------------------------------------------------------
run 1 "$nubo" upgrade nowhere/
expect_in err.txt "nowhere"
run 2 "$nubo" upgrade 'tree/a/*.NAB' -o single.NAB
expect_in err.txt "need an output directory"
[[ ! -e single.NAB ]] || fail "a refused run wrote an output"

# A file cut inside a block is damaged, not converted into garbage.
"$bin/make_old_nab" long.wav long20.NAB 20
head -c 300000 long20.NAB >cut.NAB
run 1 "$nubo" upgrade cut.NAB -o cut22.NAB
expect_in err.txt "damaged"
expect_in err.txt "cut.NAB"

run 2 "$nubo" upgrade
run 2 "$nubo" frobnicate x
expect_in err.txt "frobnicate"

# --- output -------------------------------------------------------------------
# Not a terminal: no progress lines even for a long file; --quiet: nothing.
run 0 "$nubo" upgrade long20.NAB -o long22.NAB
expect_not_in out.txt "MB re-encoded"
run 0 "$nubo" verify long22.NAB long.wav
run 0 "$nubo" --quiet upgrade --overwrite long20.NAB -o long22.NAB
[[ ! -s out.txt ]] || fail "--quiet printed: $(cat out.txt)"
# What a command is asked to print is printed under -q too: info's fields and
# test --md5's sums (a script's `nubo -q test --md5 ... > sums` records them).
run 0 "$nubo" -q info long22.NAB
expect_in out.txt "coder version      22"
run 0 "$nubo" -q test --md5 long22.NAB
[[ $(wc -l <out.txt) -eq 1 ]] && expect_in out.txt "  long22.NAB" || fail "-q test --md5 printed: $(cat out.txt)"
cp out.txt sums.md5
run 0 "$nubo" test --check sums.md5

# --- without definition files ---------------------------------------------------
# nubo copied alone with its library (no NUBOCONV.h beside it, none installed)
# speaks with its own English texts, and a damaged file is still named.
mkdir -p alone
cp "$nubo" alone/
cp -P "$bin"/libnubocodec.so* alone/ 2>/dev/null
# (The Windows build: bin/nubo starts the nubo.exe beside it, which needs nubocodec.dll.)
# It joins the directory and the name with a backslash.
shown_alone=alone/long22.NAB
if [[ -f $bin/nubo.exe ]]; then
  cp "$bin"/nubo.exe "$bin"/nubocodec.dll alone/
  shown_alone='alone\long22.NAB'
fi
run 0 alone/nubo upgrade long20.NAB -o alone/long22.NAB
expect_in out.txt "% size change: $shown_alone"
expect_in out.txt "1 file(s) converted"
cmp -s alone/long22.NAB long22.NAB || fail "nubo without definition files wrote other bytes"
run 1 alone/nubo test cut.NAB
expect_in err.txt "nubo: The input file is damaged (a block cannot be decoded): cut.NAB (block "
run 0 alone/nubo decode alone/long22.NAB -o alone/long.wav
same_audio alone/long.wav long.wav
# A definition file beside it overrides the texts it defines.
sed 's|/\*file(s) converted\*/|/*Datei(en) umgewandelt*/|' "$bin/NUBOCONV.h" >alone/NUBOCONV.h
run 0 alone/nubo upgrade --overwrite long20.NAB -o alone/long22.NAB
expect_in out.txt "1 Datei(en) umgewandelt"
expect_in out.txt "% size change: $shown_alone"

# --- --best: the searching encoder ------------------------------------------
# Its outputs hold the same audio, are never larger than the reference
# encoder's, and the plain encode stays as it was.
size_of() { stat -c %s "$1"; }
run 0 "$nubo" encode music.wav -o plain.NAB
run 0 "$nubo" encode --best --verify music.wav -o best.NAB
run 0 "$nubo" verify best.NAB music.wav
run 0 "$nubo" test best.NAB
[[ $(coder_version best.NAB) == 22 ]] || fail "--best wrote coder version $(coder_version best.NAB)"
(($(size_of best.NAB) < $(size_of plain.NAB))) || fail "--best: $(size_of best.NAB) bytes, reference $(size_of plain.NAB)"
run 0 "$nubo" encode voice.wav -o plain-again.NAB
run 0 "$nubo" encode --overwrite voice.wav -o plain-again.NAB
"$bin/make_old_nab" voice.wav voice22-tool.NAB 22
cmp -s plain-again.NAB voice22-tool.NAB || fail "nubo encode without --best differs from the library's encoder"
# Upgrades: never larger than the plain upgrade, nor than the input by more
# than 4 bytes a block.
for version in 20 21; do
  "$bin/make_old_nab" music.wav "music$version.NAB" "$version"
  run 0 "$nubo" upgrade "music$version.NAB" -o "plain$version.NAB"
  run 0 "$nubo" upgrade --best "music$version.NAB" -o "best$version.NAB"
  run 0 "$nubo" verify "best$version.NAB" music.wav
  blocks=$("$nubo" info "music$version.NAB" | awk '/^blocks/ { print $2 }')
  (($(size_of "best$version.NAB") <= $(size_of "plain$version.NAB"))) || fail "upgrade --best of v$version larger than upgrade"
  (($(size_of "best$version.NAB") <= $(size_of "music$version.NAB") + 4 * blocks)) ||
    fail "upgrade --best of v$version: $(size_of "best$version.NAB") bytes from $(size_of "music$version.NAB") in $blocks blocks"
done

finish "all nubo command-line"
